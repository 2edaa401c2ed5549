#include "FolderWatcher.h"
