// Must not compile: discovery reaches DNS-SD only through the browser interface.
#include <avahi-client/client.h>
