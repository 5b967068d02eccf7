#pragma once

#include <QString>

// Whether the program folder holds an ordinary (not hidden) file of exactly this name.
// Answers from the one name instead of listing the folder, so a folder of tens of
// thousands of images costs no more than one of ten. Throws RuntimeFault when the
// folder itself cannot be read.
bool programFolderHolds(const QString& folder, const QString& name);
