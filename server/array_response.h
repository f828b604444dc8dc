// Taking over an array the server returned: it must be there, be of the
// expected element type and let itself be locked.
#ifndef ECUPROG_SERVER_ARRAY_RESPONSE_H
#define ECUPROG_SERVER_ARRAY_RESPONSE_H

#include <cstddef>

#include "server/com_ref.h"

/// Locks the array and gives its element count. False when there is no
/// array, its element type cannot be read or is not `expected`, it has
/// another number of dimensions than one, its bounds cannot be read or do
/// not describe its element count (upper bound minus lower bound plus one),
/// or it cannot be locked.
bool TakeOverArray(SafeArrayRef& array, VARTYPE expected, size_t* count);

#endif  // ECUPROG_SERVER_ARRAY_RESPONSE_H
