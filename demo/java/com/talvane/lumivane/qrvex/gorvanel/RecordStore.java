package com.talvane.lumivane.qrvex.gorvanel;

import static java.nio.charset.StandardCharsets.UTF_8;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.List;
import java.util.SortedMap;
import java.util.TreeMap;

/**
 * The information records, kept in one text file below the variable-data
 * directory: a header line, then one record a line, its key and parameters
 * separated by tabs, with backslash, tab, line feed and carriage return
 * written as \\, \t, \n and \r.
 *
 * <p>A change is written to a new file in the same directory
 * (records.txt.new) that then replaces the old one in one rename, so a
 * reader sees the old records or the new ones and a crash leaves one of the
 * two whole. Changes take a lock file (records.lock) first, so two at once
 * cannot lose each other's records.
 */
final class RecordStore {
  static final String HEADER = "gorvanel information records 1";
  static final int MAX_PARAMETERS = 4;

  /** What a change does to the records; a refusal leaves the file as it was. */
  interface Change {
    void apply(SortedMap<String, List<String>> records) throws Refusal;
  }

  private final Path directory;
  private final Path file;
  private final Path newFile;
  private final Path lockFile;

  RecordStore(Path variableDataDirectory) {
    directory = variableDataDirectory.resolve("gorvanel");
    file = directory.resolve("records.txt");
    newFile = directory.resolve("records.txt.new");
    lockFile = directory.resolve("records.lock");
  }

  /** The records by key; none while nothing has been added yet. */
  SortedMap<String, List<String>> read() throws IOException {
    List<String> lines;
    try {
      lines = Files.readAllLines(file, UTF_8);
    } catch (NoSuchFileException e) {
      return new TreeMap<>();
    }
    if (lines.isEmpty() || !lines.get(0).equals(HEADER)) {
      throw damaged(1, "it does not begin with \"" + HEADER + "\"");
    }
    SortedMap<String, List<String>> records = new TreeMap<>();
    for (int i = 1; i < lines.size(); i++) {
      List<String> fields = parseLine(lines.get(i), i + 1);
      String key = fields.remove(0);
      if (records.put(key, fields) != null) {
        throw damaged(i + 1, "key " + quote(key) + " appears twice");
      }
    }
    return records;
  }

  /** Reads the records under the lock, applies the change and writes them. */
  void change(Change change) throws IOException, Refusal {
    Files.createDirectories(directory);
    try (FileChannel lockChannel = FileChannel.open(lockFile,
             StandardOpenOption.CREATE, StandardOpenOption.WRITE)) {
      // Held until the channel closes, whichever way the change ends.
      lockChannel.lock();
      SortedMap<String, List<String>> records = read();
      change.apply(records);
      write(records);
    }
  }

  /** One record as it is stored and shown: escaped fields joined by tabs. */
  static String formatRecord(String key, List<String> parameters) {
    StringBuilder line = new StringBuilder(escape(key));
    for (String parameter : parameters) {
      line.append('\t').append(escape(parameter));
    }
    return line.toString();
  }

  /** A text in single quotes, escaped so that it stays on one line. */
  static String quote(String text) {
    return "'" + escape(text) + "'";
  }

  private void write(SortedMap<String, List<String>> records)
      throws IOException {
    StringBuilder text = new StringBuilder(HEADER).append('\n');
    records.forEach(
        (key, parameters) -> text.append(formatRecord(key, parameters))
                                 .append('\n'));
    // One writer at a time holds the lock, so one fixed name will do; one
    // left by a crash is simply overwritten.
    try {
      try (FileChannel channel = FileChannel.open(newFile,
               StandardOpenOption.CREATE, StandardOpenOption.WRITE,
               StandardOpenOption.TRUNCATE_EXISTING)) {
        ByteBuffer bytes = UTF_8.encode(text.toString());
        while (bytes.hasRemaining()) {
          channel.write(bytes);
        }
        // On disk before the rename, or a crash could leave an empty file
        // under the old name.
        channel.force(true);
      }
      Files.move(newFile, file, StandardCopyOption.ATOMIC_MOVE);
      syncDirectory();
    } finally {
      Files.deleteIfExists(newFile);
    }
  }

  // Makes the rename itself durable where the platform allows it; where a
  // directory cannot be opened (Windows), the rename has been done anyway.
  private void syncDirectory() {
    try (FileChannel channel = FileChannel.open(directory,
             StandardOpenOption.READ)) {
      channel.force(true);
    } catch (IOException e) {
      // Nothing more can be done for durability here.
    }
  }

  private List<String> parseLine(String line, int number) throws IOException {
    List<String> fields = new ArrayList<>();
    for (String field : line.split("\t", -1)) {
      String value = unescape(field);
      if (value == null) {
        throw damaged(number, "it holds a stray backslash");
      }
      fields.add(value);
    }
    if (fields.size() < 2 || fields.size() > 1 + MAX_PARAMETERS
        || fields.get(0).isEmpty()) {
      throw damaged(number, "it is not a key with one to four parameters");
    }
    return fields;
  }

  private IOException damaged(int line, String why) {
    return new IOException(file + " is damaged at line " + line + ": " + why);
  }

  static String escape(String text) {
    StringBuilder out = new StringBuilder(text.length());
    for (int i = 0; i < text.length(); i++) {
      char c = text.charAt(i);
      switch (c) {
        case '\\': out.append("\\\\"); break;
        case '\t': out.append("\\t"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        default: out.append(c);
      }
    }
    return out.toString();
  }

  /** The text an escaped field stands for; null when it is malformed. */
  static String unescape(String field) {
    StringBuilder out = new StringBuilder(field.length());
    for (int i = 0; i < field.length(); i++) {
      char c = field.charAt(i);
      if (c != '\\') {
        out.append(c);
        continue;
      }
      if (++i == field.length()) {
        return null;
      }
      switch (field.charAt(i)) {
        case '\\': out.append('\\'); break;
        case 't': out.append('\t'); break;
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        default: return null;
      }
    }
    return out.toString();
  }
}
