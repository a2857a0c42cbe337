#include <iostream>

#include "cli.h"

int main(int argc, char** argv) {
  return launcher_pack::RunCli(argc, argv, std::cout, std::cerr);
}
