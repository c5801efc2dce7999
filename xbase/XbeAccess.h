#pragma once
// The engine entries as the table layer calls them: those of the process's
// TXBEEngine, which loads libxbe50.so once at start-up.
#include "xbase/engine/binding/XBE50.h"

// The bound entries; throws EXbError when no engine library is loaded.
const TXBEEntries& Xbe();
