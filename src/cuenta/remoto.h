#pragma once

namespace tt {

// Client of the control service.
class Remoto {
public:
    Remoto() = default;
};

}  // namespace tt
