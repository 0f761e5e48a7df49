package com.talvane.lumivane.qrvex.gorvanel;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.SortedMap;
import java.util.TreeMap;

/**
 * Stand-in for the information command class: adds, shows and deletes
 * information records by key, kept below the directory in the system
 * property qrvex.vardir.
 *
 * <pre>
 *   -a &lt;key&gt; &lt;parm1&gt; [parm2] [parm3] [parm4]   add a record
 *   -l &lt;key&gt;                                 show one record
 *   -l                                       show all records
 *   -d &lt;key&gt;                                 delete a record
 * </pre>
 *
 * <p>Exit status 0 when done; 1 with a one-line message on standard output
 * when refused or when the records cannot be read or written. With the
 * environment variable GORVANEL_TRACE set, standard error first shows the
 * qrvex.* properties, the class path and the arguments as the VM got them.
 */
public final class GorvanelCmd {
  private static final String[] USAGE = {
    "Usage: gorvanel <opt> [parameters....]",
    "  add information     : gorvanel -a <key> <parm1> [parm2] [parm3] [parm4]",
    "  show one information: gorvanel -l <key>",
    "  show all information: gorvanel -l",
    "  delete information  : gorvanel -d <key>",
  };

  private final PrintStream out;

  private GorvanelCmd(PrintStream out) {
    this.out = out;
  }

  public static void main(String[] args) {
    String trace = System.getenv("GORVANEL_TRACE");
    if (trace != null && !trace.isEmpty()) {
      trace(args, System.err);
    }
    int status = new GorvanelCmd(System.out).run(args);
    System.out.flush();
    System.exit(status);
  }

  private int run(String[] args) {
    if (args.length == 0) {
      for (String line : USAGE) {
        out.println(line);
      }
      return 1;
    }
    try {
      RecordStore store = new RecordStore(variableDataDirectory());
      String option = args[0];
      List<String> operands = Arrays.asList(args).subList(1, args.length);
      switch (option) {
        case "-a": add(store, operands); break;
        case "-l": show(store, operands); break;
        case "-d": delete(store, operands); break;
        default: throw new Refusal("unknown option " + RecordStore.quote(option));
      }
      return 0;
    } catch (Refusal refusal) {
      out.println("gorvanel: " + refusal.getMessage());
    } catch (IOException | RuntimeException failure) {
      out.println("gorvanel: the records cannot be kept: "
                  + RecordStore.escape(describe(failure)));
    }
    return 1;
  }

  // Exceptions of the file system carry little more than a path as their
  // message; their kind says what went wrong.
  private static String describe(Exception failure) {
    String message = String.valueOf(failure.getMessage());
    if (failure.getClass() == IOException.class) {
      return message;
    }
    return failure.getClass().getSimpleName() + ": " + message;
  }

  private static Path variableDataDirectory() throws Refusal {
    String directory = System.getProperty("qrvex.vardir");
    if (directory == null || directory.isEmpty()) {
      throw new Refusal("the system property qrvex.vardir is not set");
    }
    return Paths.get(directory);
  }

  private static void add(RecordStore store, List<String> operands)
      throws IOException, Refusal {
    if (operands.size() < 2) {
      throw new Refusal("missing parameters: -a <key> <parm1> [parm2] [parm3] [parm4]");
    }
    if (operands.size() > 1 + RecordStore.MAX_PARAMETERS) {
      throw new Refusal("too many parameters: -a takes a key and at most "
                        + RecordStore.MAX_PARAMETERS);
    }
    String key = checkedKey(operands.get(0));
    List<String> parameters = List.copyOf(operands.subList(1, operands.size()));
    store.change(records -> {
      if (records.containsKey(key)) {
        throw new Refusal("key " + RecordStore.quote(key)
                          + " already exists (delete it first)");
      }
      records.put(key, parameters);
    });
  }

  private void show(RecordStore store, List<String> operands)
      throws IOException, Refusal {
    if (operands.size() > 1) {
      throw new Refusal("too many parameters: -l takes at most a key");
    }
    SortedMap<String, List<String>> records = store.read();
    if (operands.isEmpty()) {
      records.forEach(
          (key, parameters) -> out.println(RecordStore.formatRecord(key, parameters)));
      return;
    }
    String key = checkedKey(operands.get(0));
    List<String> parameters = records.get(key);
    if (parameters == null) {
      throw unknownKey(key);
    }
    out.println(RecordStore.formatRecord(key, parameters));
  }

  private static void delete(RecordStore store, List<String> operands)
      throws IOException, Refusal {
    if (operands.size() != 1) {
      throw new Refusal(operands.isEmpty() ? "missing parameters: -d <key>"
                                           : "too many parameters: -d takes a key");
    }
    String key = checkedKey(operands.get(0));
    store.change(records -> {
      if (records.remove(key) == null) {
        throw unknownKey(key);
      }
    });
  }

  private static String checkedKey(String key) throws Refusal {
    if (key.isEmpty()) {
      throw new Refusal("the key must not be empty");
    }
    return key;
  }

  private static Refusal unknownKey(String key) {
    return new Refusal("no information record with key " + RecordStore.quote(key));
  }

  private static void trace(String[] args, PrintStream err) {
    Map<String, String> properties = new TreeMap<>();
    for (String name : System.getProperties().stringPropertyNames()) {
      if (name.startsWith("qrvex.")) {
        properties.put(name, System.getProperty(name));
      }
    }
    properties.put("java.class.path", System.getProperty("java.class.path"));
    properties.forEach((name, value) -> err.println(name + "=" + value));
    err.println("argument count=" + args.length);
    for (int i = 0; i < args.length; i++) {
      err.println("argument[" + i + "]=" + args[i]);
    }
    err.flush();
  }
}
