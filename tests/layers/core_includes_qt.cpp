// Must not compile: the core has no toolkit on its include path.
#include <QtCore/QObject>
