// Keeps a table open in a second process for the sharing tests:
//   xbtable_holder <dir> <table> exclusive|shared
// prints "ready" (or "error <message>") and holds the table until its input
// ends. An input line "edit <recno>" puts that record into edit state (which
// locks it) and answers "editing".
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
    if (line.rfind("edit ", 0) != 0) continue;
    const std::int32_t recNo = std::stoi(line.substr(5));
    for (table.GoTop(); !table.Eof() && table.RecNo() != recNo;) table.Skip();
    table.Edit();
    std::cout << "editing" << std::endl;
  }
  table.Close();
  return 0;
}
