#ifndef ECUPROG_DRIVER_BANNER_H
#define ECUPROG_DRIVER_BANNER_H

/// The first line the operator sees: the tool and its version.
constexpr const char* kBanner =
    "ecuprog " ECUPROG_VERSION " - engine control unit firmware programmer";

#endif  // ECUPROG_DRIVER_BANNER_H
