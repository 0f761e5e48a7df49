/* A stand-in for the Java VM in end-to-end tests. It appends what it was
 * started with to the file named by STUB_JAVA_RECORD and ends as
 * STUB_JAVA_EXIT (and, on Linux, STUB_JAVA_SIGNAL) say.
 *
 * Record: a "begin" line, then one "key=hex" line per item, then "end".
 * Keys: argc (decimal), argv (one line per element, in order), CLASSPATH
 * and LIB (only when set), cmdline (Windows only: GetCommandLineA). The
 * values are hex so that blanks, quotes and line breaks survive intact. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

static void put_hex(FILE* out, const char* key, const char* value) {
  const unsigned char* p = (const unsigned char*)value;
  fprintf(out, "%s=", key);
  for (; *p != '\0'; ++p) fprintf(out, "%02x", *p);
  fputc('\n', out);
}

static void put_env(FILE* out, const char* name) {
  const char* value = getenv(name);
  if (value != NULL) put_hex(out, name, value);
}

static void write_record(const char* path, int argc, char** argv) {
  /* Binary mode: the record's line ends stay LF on every platform. */
  FILE* out = fopen(path, "ab");
  int i;
  if (out == NULL) {
    fprintf(stderr, "stub java: cannot open %s\n", path);
    exit(70);
  }
  fputs("begin\n", out);
  fprintf(out, "argc=%d\n", argc);
  for (i = 0; i < argc; ++i) put_hex(out, "argv", argv[i]);
  put_env(out, "CLASSPATH");
  put_env(out, "LIB");
#ifdef _WIN32
  put_hex(out, "cmdline", GetCommandLineA());
#endif
  fputs("end\n", out);
  fclose(out);
}

/* Read wide and cut to 32 bits, so that an exit code above INT_MAX
 * (4294967295 on Windows) arrives as that code: atoi's overflow is
 * undefined, and some runtimes saturate it. */
static int env_number(const char* name, int fallback) {
  const char* value = getenv(name);
  if (value == NULL || *value == '\0') return fallback;
  return (int)(unsigned int)strtoll(value, NULL, 10);
}

int main(int argc, char** argv) {
  const char* record = getenv("STUB_JAVA_RECORD");
  if (record != NULL && *record != '\0') write_record(record, argc, argv);
#ifndef _WIN32
  {
    int sig = env_number("STUB_JAVA_SIGNAL", 0);
    if (sig > 0) {
      signal(sig, SIG_DFL);
      kill(getpid(), sig);
      /* A signal whose default is to be ignored lands here. */
      return 99;
    }
  }
#endif
  return env_number("STUB_JAVA_EXIT", 0);
}
