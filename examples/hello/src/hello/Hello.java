package hello;

/** Prints its arguments and the properties a packaged launcher sets, so a run can be checked. */
public final class Hello {
  private static final String[] PROPERTIES = {
    "java.version", "java.class.path", "ksl.app.path", "application.home"
  };

  private Hello() {}

  public static void main(String[] args) {
    System.out.println("Hello from a packaged Java application.");
    for (int i = 0; i < args.length; i++) {
      System.out.println("arg[" + i + "]=" + args[i]);
    }
    for (String name : PROPERTIES) {
      System.out.println(name + "=" + System.getProperty(name));
    }
  }
}
