#pragma once

#include <QStringList>

namespace Zazizi {

// The host authoring application, as far as its recent documents go.
class Canvaro
{
public:
    // Null when the host has never run as this user (it has no recent list).
    static Canvaro *instance();

    // The host's recent documents, most recent first, as stored (empty entries included).
    QStringList mruList() const;

private:
    Canvaro() = default;
};

} // namespace Zazizi
