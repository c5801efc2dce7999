// Keeps a table open in a second process for the sharing tests:
//   xbtable_holder <dir> <table> exclusive|shared
// prints "ready" (or "error <message>") and holds the table until its input ends.
#include <iostream>
#include <string>

#include "xbase/XbDSet.h"
#include "xbase/engine/binding/XBE50.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: xbtable_holder <dir> <table> exclusive|shared\n";
    return 2;
  }
  TXBEEngine engine;
  TXbTable table;
  try {
    table.SetDatabaseName(argv[1]);
    table.SetTableName(argv[2]);
    table.SetExclusive(std::string(argv[3]) == "exclusive");
    table.Open();
  } catch (const std::exception& e) {
    std::cout << "error " << e.what() << std::endl;
    return 1;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  table.Close();
  return 0;
}
