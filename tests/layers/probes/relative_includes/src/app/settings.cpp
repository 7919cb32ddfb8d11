// Every project include is written from the source root.
#include "settings.moc"

#include <bridge/records.h>  // refused: <bridge/records.h> is ours: include it with quotes

#include "../bridge/records.h"  // refused: "../bridge/records.h" is not written from the source root: write "bridge/records.h"
#include "app/../bridge/records.h"  // refused: "app/../bridge/records.h" is not written from the source root: write "bridge/records.h"
#include "app/extras/x.h"  // refused: folder app/extras/ has no include rules
#include "linux/file_store.h"  // refused: "linux/file_store.h" is not written from the source root: write "app/linux/file_store.h"
#include "other.moc"             // refused: "other.moc" is not written from the source root
#include "src/bridge/records.h"  // refused: "src/bridge/records.h" is not written from the source root
#include LUMORA_CONFIG_HEADER  // refused: a computed include cannot be checked
