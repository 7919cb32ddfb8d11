#include "bridge/records.h"
#include "records.h"  // refused: "records.h" is not written from the source root: write "bridge/records.h"
