// The simulated bridge keeps its own model: it shares no code with the client.
#include <avahi-client/publish.h>
#include <httplib.h>

#include "base/utf8.h"       // refused: simulator may not include base/
#include "bridge/records.h"  // refused: simulator may not include bridge/
#include "simulator/fixtures.h"
