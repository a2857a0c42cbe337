package bench;

import java.io.ByteArrayOutputStream;
import java.io.OutputStream;
import java.net.URI;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.Map;
import javax.tools.FileObject;
import javax.tools.ForwardingJavaFileManager;
import javax.tools.JavaCompiler;
import javax.tools.JavaFileManager;
import javax.tools.JavaFileObject;
import javax.tools.SimpleJavaFileObject;
import javax.tools.StandardJavaFileManager;
import javax.tools.ToolProvider;

/**
 * A start that loads many classes (over 3,000): compiles a small source file in memory with javac,
 * does what that source does with streams and lambdas, reads and writes an XML document and formats
 * a date.
 */
public final class CompileHello {
  private static final String SOURCE =
      "import java.util.*; import java.util.function.*; import java.util.stream.*;\n"
          + "public class Greeting {\n"
          + "  interface Shape { double area(); }\n"
          + "  record Circle(double r) implements Shape { public double area() { return Math.PI * r * r; } }\n"
          + "  record Square(double s) implements Shape { public double area() { return s * s; } }\n"
          + "  enum Size { SMALL, LARGE }\n"
          + "  static <T extends Comparable<? super T>> List<T> sorted(Collection<T> in) {\n"
          + "    List<T> out = new ArrayList<>(in); Collections.sort(out); return out; }\n"
          + "  public static String text() {\n"
          + "    List<Shape> shapes = List.of(new Circle(1), new Square(2));\n"
          + "    Map<Size, List<Shape>> bySize = shapes.stream().collect(Collectors.groupingBy(\n"
          + "        s -> s.area() > 3.5 ? Size.LARGE : Size.SMALL));\n"
          + "    Function<Integer, String> f = i -> switch (i) { case 1 -> \"one\"; default -> \"many\"; };\n"
          + "    StringBuilder b = new StringBuilder();\n"
          + "    for (var e : new TreeMap<>(bySize).entrySet()) b.append(e.getKey()).append(f.apply(e.getValue().size()));\n"
          + "    try (var sc = new Scanner(\"hello\")) { b.append(sc.next()); }\n"
          + "    return b + String.valueOf(sorted(Set.of(3, 1, 2)));\n"
          + "  }\n"
          + "}\n";

  private CompileHello() {}

  public static void main(String[] args) throws Exception {
    JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
    JavaFileObject source =
        new SimpleJavaFileObject(URI.create("string:///Greeting.java"), JavaFileObject.Kind.SOURCE) {
          @Override
          public CharSequence getCharContent(boolean ignoreEncodingErrors) {
            return SOURCE;
          }
        };
    Map<String, ByteArrayOutputStream> classes = new HashMap<>();
    StandardJavaFileManager standard = compiler.getStandardFileManager(null, null, null);
    JavaFileManager inMemory =
        new ForwardingJavaFileManager<StandardJavaFileManager>(standard) {
          @Override
          public JavaFileObject getJavaFileForOutput(
              JavaFileManager.Location location, String name, JavaFileObject.Kind kind,
              FileObject sibling) {
            return new SimpleJavaFileObject(URI.create("mem:///" + name + ".class"), kind) {
              @Override
              public OutputStream openOutputStream() {
                return classes.computeIfAbsent(name, n -> new ByteArrayOutputStream());
              }
            };
          }
        };
    boolean compiled =
        compiler
            .getTask(null, inMemory, null, Arrays.asList("-proc:none"), null,
                Collections.singletonList(source))
            .call();
    int size = 0;
    for (ByteArrayOutputStream bytes : classes.values()) size += bytes.size();
    System.out.println(compiled ? "compiled Greeting, " + size + " bytes" : "failed");
    // What the compiled source does, done here by classes of the application class loader, whose
    // lambda and stream machinery the archive can hold.
    Map<Boolean, java.util.List<Integer>> sizes =
        java.util.stream.IntStream.rangeClosed(1, 20).boxed()
            .collect(java.util.stream.Collectors.partitioningBy(i -> i % 3 == 0));
    java.util.function.Function<Integer, String> name = i -> i == 1 ? "one" : "many";
    System.out.println(new java.util.TreeMap<>(sizes).entrySet().stream()
        .map(e -> e.getKey() + "=" + name.apply(e.getValue().size()))
        .collect(java.util.stream.Collectors.joining(",", "[", "]")));
    // As many applications do at start, it reads an XML document (its settings, say).
    org.w3c.dom.Document settings =
        javax.xml.parsers.DocumentBuilderFactory.newInstance()
            .newDocumentBuilder()
            .parse(new java.io.ByteArrayInputStream(
                "<settings><greeting lang=\"en\">hello</greeting></settings>".getBytes("UTF-8")));
    System.out.println("settings: " + settings.getDocumentElement().getTextContent());
    java.io.StringWriter written = new java.io.StringWriter();
    javax.xml.transform.TransformerFactory.newInstance()
        .newTransformer()
        .transform(new javax.xml.transform.dom.DOMSource(settings),
            new javax.xml.transform.stream.StreamResult(written));
    System.out.println("written back: " + written.toString().length() + " characters");
    System.out.println("date: " + java.time.format.DateTimeFormatter.ofPattern("d MMMM uuuu")
        .withLocale(java.util.Locale.ENGLISH).format(java.time.LocalDate.of(2026, 12, 8)));
    System.out.println("java.version=" + System.getProperty("java.version"));
  }
}
