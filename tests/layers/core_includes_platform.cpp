// Must not compile: the core is given its store, it does not pick the file one.
#include "app/linux/file_store.h"
