package bench;

import java.io.ByteArrayOutputStream;
import java.io.OutputStream;
import java.net.URI;
import java.util.Arrays;
import java.util.Collections;
import javax.tools.FileObject;
import javax.tools.ForwardingJavaFileManager;
import javax.tools.JavaCompiler;
import javax.tools.JavaFileManager;
import javax.tools.JavaFileObject;
import javax.tools.SimpleJavaFileObject;
import javax.tools.StandardJavaFileManager;
import javax.tools.ToolProvider;

/** A start that loads many classes: compiles one small source file in memory with javac. */
public final class CompileHello {
  private static final String SOURCE =
      "public class Greeting { public static String text() { return \"hello\"; } }";

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
    ByteArrayOutputStream classBytes = new ByteArrayOutputStream();
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
                return classBytes;
              }
            };
          }
        };
    boolean compiled =
        compiler
            .getTask(null, inMemory, null, Arrays.asList("-proc:none"), null,
                Collections.singletonList(source))
            .call();
    System.out.println(compiled ? "compiled Greeting, " + classBytes.size() + " bytes" : "failed");
    System.out.println("java.version=" + System.getProperty("java.version"));
  }
}
