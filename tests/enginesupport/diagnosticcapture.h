#pragma once

// The engine's diagnostic lines, switched on while the capture lives, whatever the logging
// rules say; everything else shows as before.

#include "messagecapture.h"

#include <diagnostics.h>

class DiagnosticCapture : public MessageCapture
{
public:
    DiagnosticCapture()
        : MessageCapture({QtDebugMsg}, PassOn, diagnosticsCategoryName),
          wasEnabled(diagnosticsCategory().isDebugEnabled())
    {
        diagnosticsCategory().setEnabled(QtDebugMsg, true);
    }
    ~DiagnosticCapture() { diagnosticsCategory().setEnabled(QtDebugMsg, wasEnabled); }

private:
    bool wasEnabled;
};
