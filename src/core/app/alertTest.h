#pragma once
// skylark --test-alert: reads alert.txt in the folder, sends one test message through
// every channel it sets, and says what became of each. It takes no folder lock, so it
// works while Skylark runs there.

#include <QString>
#include <QTextStream>

// 0 only when the file has no mistake and every channel it sets delivered; 1 otherwise.
int testAlert(const QString& folder, QTextStream& out, long timeoutSeconds = 30);
