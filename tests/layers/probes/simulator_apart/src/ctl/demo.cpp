#include "panel/qt_shell.h"  // refused: ctl may not include panel/
#include "simulator/sim_server.h"
