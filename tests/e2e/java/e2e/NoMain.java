package e2e;

/** A class without a static main(String[]) method. */
public class NoMain {
  public void main(String[] args) {}
}
