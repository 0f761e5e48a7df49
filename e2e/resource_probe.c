/* Reads a program file's version information and manifest the way Windows
 * does, through the version API and the resource API, and prints them:
 *
 *   resource_probe.exe PROGRAM
 *
 * One "key=value" line each for the fixed part (Signature, FileVersion,
 * ProductVersion, FileOS, FileType), Translation, every string of the
 * first translation's table that is asked for below, and manifest (its
 * bytes in hex). Exit status 0 when all of it could be read, else 2, with
 * what was missing on standard error. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static const char* const kStringNames[] = {
    "CompanyName",      "FileDescription", "FileVersion",   "InternalName",
    "OriginalFilename", "ProductName",     "ProductVersion"};

static int fail(const char* what) {
  fprintf(stderr, "resource_probe: %s (error %lu)\n", what, GetLastError());
  return 2;
}

static void put_version(const char* key, DWORD high, DWORD low) {
  printf("%s=%u.%u.%u.%u\n", key, HIWORD(high), LOWORD(high), HIWORD(low),
         LOWORD(low));
}

static int print_version_info(const char* program) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(program, &ignored);
  if (size == 0) return fail("no version information");
  char* data = malloc(size);
  if (data == NULL) return fail("out of memory");
  int status = 0;
  void* found = NULL;
  UINT length = 0;
  if (!GetFileVersionInfoA(program, 0, size, data)) {
    status = fail("GetFileVersionInfoA failed");
  } else if (!VerQueryValueA(data, "\\", &found, &length) ||
             length < sizeof(VS_FIXEDFILEINFO)) {
    status = fail("no fixed file information");
  } else {
    const VS_FIXEDFILEINFO* fixed = found;
    printf("Signature=%08lx\n", fixed->dwSignature);
    put_version("FileVersion#", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    put_version("ProductVersion#", fixed->dwProductVersionMS,
                fixed->dwProductVersionLS);
    printf("FileOS=%08lx\nFileType=%lu\n", fixed->dwFileOS, fixed->dwFileType);
    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", &found,
                        &length) ||
        length < 4) {
      status = fail("no translation");
    } else {
      const WORD* translation = found;
      char table[16];
      snprintf(table, sizeof table, "%04x%04x", translation[0], translation[1]);
      printf("Translation=%s\n", table);
      for (size_t i = 0; i < sizeof kStringNames / sizeof *kStringNames; ++i) {
        char path[96];
        snprintf(path, sizeof path, "\\StringFileInfo\\%s\\%s", table,
                 kStringNames[i]);
        if (VerQueryValueA(data, path, &found, &length) && length > 0) {
          printf("%s=%s\n", kStringNames[i], (const char*)found);
        } else {
          fprintf(stderr, "resource_probe: no string %s\n", path);
          status = 2;
        }
      }
    }
  }
  free(data);
  return status;
}

static int print_manifest(const char* program) {
  HMODULE module = LoadLibraryExA(program, NULL, LOAD_LIBRARY_AS_DATAFILE);
  if (module == NULL) return fail("cannot load the program as data");
  int status = 0;
  HRSRC resource = FindResourceA(
      module, MAKEINTRESOURCEA(CREATEPROCESS_MANIFEST_RESOURCE_ID),
      MAKEINTRESOURCEA(24)); /* RT_MANIFEST */
  HGLOBAL loaded = resource != NULL ? LoadResource(module, resource) : NULL;
  const unsigned char* bytes = loaded != NULL ? LockResource(loaded) : NULL;
  if (bytes == NULL) {
    status = fail("no manifest");
  } else {
    DWORD size = SizeofResource(module, resource);
    printf("manifest=");
    for (DWORD i = 0; i < size; ++i) printf("%02x", bytes[i]);
    printf("\n");
  }
  FreeLibrary(module);
  return status;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: resource_probe PROGRAM\n");
    return 2;
  }
  int version_status = print_version_info(argv[1]);
  int manifest_status = print_manifest(argv[1]);
  return version_status != 0 ? version_status : manifest_status;
}
