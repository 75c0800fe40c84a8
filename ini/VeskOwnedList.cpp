#include "VeskOwnedList.h"

#include <string>

#include "VeskError.h"

void VeskListIndexError(int32_t Index) {
    throw EVeskError("List index out of bounds (" + std::to_string(Index) + ")");
}
