package com.example;

/** The application of the documentation's examples: says what it was given. */
public class Main {
  public static void main(String[] args) {
    System.out.println("com.example.Main " + String.join(" ", args));
  }
}
