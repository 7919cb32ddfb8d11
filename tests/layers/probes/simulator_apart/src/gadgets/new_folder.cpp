// refused: folder gadgets/ has no include rules
#include "base/dispatch.h"
