/* A table of addresses: relative relocations for the linker to pack. Built only to be checked,
   never run. */
static const char* const kNames[] = {"first", "second", "third"};

int main(int argc, char** argv) {
  (void)argv;
  return kNames[argc % 3][0] == 'f' ? 0 : 1;
}
