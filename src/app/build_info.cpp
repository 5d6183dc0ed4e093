// The build stamp: the moment this file was compiled, as the compiler gives
// it ("May 27 2020", "17:05:05").
#include "app/personality.h"

namespace kestovane {

const char* BuildDate() { return __DATE__; }
const char* BuildTime() { return __TIME__; }

}  // namespace kestovane
