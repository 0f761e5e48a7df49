package com.talvane.vantrel.pennimark.san.manager.cli.tarvo;

import java.util.Map;
import java.util.TreeMap;

/**
 * Stand-in for the SAN manager's command-line class: it does no management
 * work, it shows what tarvo started it with, so that an installation can be
 * checked from end to end.
 *
 * <p>Output, one item a line: the pellucor.* system properties sorted by
 * name, java.library.path, the CLASSPATH and LIB environment values, the
 * argument count and each argument. Exit status 0.
 */
public final class Tarvo {
  private static final String PROPERTY_PREFIX = "pellucor.";

  private Tarvo() {}

  public static void main(String[] args) {
    Map<String, String> properties = new TreeMap<>();
    for (String name : System.getProperties().stringPropertyNames()) {
      if (name.startsWith(PROPERTY_PREFIX)) {
        properties.put(name, System.getProperty(name));
      }
    }
    StringBuilder out = new StringBuilder();
    properties.forEach((name, value) -> line(out, name, value));
    line(out, "java.library.path", System.getProperty("java.library.path"));
    line(out, "CLASSPATH", System.getenv("CLASSPATH"));
    line(out, "LIB", System.getenv("LIB"));
    line(out, "argument count", Integer.toString(args.length));
    for (int i = 0; i < args.length; i++) {
      line(out, "argument[" + i + "]", args[i]);
    }
    System.out.print(out);
    System.out.flush();
  }

  // An unset value is told apart from an empty one.
  private static void line(StringBuilder out, String name, String value) {
    out.append(name);
    out.append(value == null ? " (not set)" : "=" + value);
    out.append(System.lineSeparator());
  }
}
