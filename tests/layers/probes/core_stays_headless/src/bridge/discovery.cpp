#include <avahi-client/client.h>  // refused: bridge may not include Avahi
#include <httplib.h>
#include <unicode/coll.h>

#include <nlohmann/json.hpp>
