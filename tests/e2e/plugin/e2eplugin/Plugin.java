package e2eplugin;

/** A class that only a directory on the class path holds, for the probe's load mode. */
public class Plugin {}
