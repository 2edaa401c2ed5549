#include "FolderScanner.h"
