#include "xbase/XbeAccess.h"

#include "xbase/XbDSet.h"

const TXBEEntries& Xbe() {
  const TXBEEngine* engine = TXBEEngine::Current();
  if (engine == nullptr || !engine->m_bIsLoaded)
    throw EXbError(std::string("xBase engine library not loaded: ") + TXBEEngine::kLibraryName);
  return engine->Entries();
}
