#include "app/linux/file_store.h"
#include "file_store.h"  // refused: "file_store.h" is not written from the source root: write "app/linux/file_store.h"
