package e2e;

import java.io.FileWriter;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;

/** Prints what the launcher handed over; PROBE_MODE selects other behaviour for exit tests. */
public class Probe {
  public static void main(String[] args) throws Exception {
    String mode = env("PROBE_MODE", "print");
    if (mode.startsWith("exit:")) {
      System.exit(Integer.parseInt(mode.substring(5)));
    } else if (mode.equals("throw")) {
      throw new IllegalStateException("probe failure");
    } else if (mode.equals("thread")) {
      Thread worker = new Thread(() -> {
        sleep(700);
        System.out.println("thread done");
      });
      worker.start();
      System.out.println("main done");
    } else if (mode.equals("wait")) {
      String hookFile = System.getenv("PROBE_HOOK_FILE");
      Runtime.getRuntime().addShutdownHook(new Thread(() -> write(hookFile, "hook ran\n")));
      System.out.println("ready");
      System.out.flush();
      sleep(60000);
      System.out.println("not interrupted");
    } else if (mode.startsWith("recurse:")) {
      System.out.println("depth=" + recurse(Integer.parseInt(mode.substring(8))));
    } else if (mode.startsWith("load:")) {
      System.out.println("loaded " + Class.forName(mode.substring(5)).getName());
    } else if (mode.startsWith("flood:")) {
      flood(Integer.parseInt(mode.substring(6)));
    } else {
      print(args);
    }
  }

  private static void print(String[] args) {
    System.out.println("argc=" + args.length);
    for (int i = 0; i < args.length; i++) {
      StringBuilder units = new StringBuilder();
      for (char c : args[i].toCharArray()) units.append(String.format(" %04x", (int) c));
      System.out.println("arg[" + i + "]=" + args[i]);
      System.out.println("units[" + i + "]=" + units.toString().trim());
    }
    for (String name : env("PROBE_PROPS", "").split(",")) {
      if (!name.isEmpty()) System.out.println("prop:" + name + "=" + System.getProperty(name));
    }
    for (String name : env("PROBE_ENV", "").split(",")) {
      if (!name.isEmpty()) System.out.println("env:" + name + "=" + System.getenv(name));
    }
    System.out.flush();
  }

  // Writes megabytes of numbered lines to both streams so that the receiver can check them.
  private static void flood(int megabytes) throws IOException {
    byte[] line = new byte[64];
    long total = (long) megabytes * 1024 * 1024;
    OutputStream out = new java.io.FileOutputStream(java.io.FileDescriptor.out);
    OutputStream err = new java.io.FileOutputStream(java.io.FileDescriptor.err);
    for (long written = 0, n = 0; written < total; written += line.length, n++) {
      byte[] text = String.format("%063d\n", n).getBytes(StandardCharsets.US_ASCII);
      out.write(text);
      err.write(text);
    }
    out.flush();
    err.flush();
  }

  // Deep enough to need a larger stack than the default; the frame keeps a few locals alive.
  private static int recurse(int depth) {
    long a = depth, b = a * 3, c = b ^ a;
    return depth == 0 ? 0 : 1 + recurse(depth - 1) + (int) ((a + b + c) & 0);
  }

  private static String env(String name, String fallback) {
    String value = System.getenv(name);
    return value == null ? fallback : value;
  }

  private static void sleep(long millis) {
    try {
      Thread.sleep(millis);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
    }
  }

  private static void write(String path, String text) {
    if (path == null) return;
    try (FileWriter w = new FileWriter(path, true)) {
      w.write(text);
    } catch (IOException e) {
      e.printStackTrace();
    }
  }
}
