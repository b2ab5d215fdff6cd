// The units a backend has opened, behind opaque D2XX handles.
//
// A handle is the address of the unit's state, but it is only followed after it
// has been found in the table: the logger goes on calling with whatever handle the
// connection left (zero when nothing was opened), and such calls must fail
// harmlessly instead of dereferencing it.
#pragma once

#include "device/d2xx.h"

#include <memory>
#include <vector>

namespace device {

template <typename Unit> class HandleTable {
public:
    FT_HANDLE Add(std::unique_ptr<Unit> unit) {
        FT_HANDLE handle = unit.get();
        units_.push_back(std::move(unit));
        return handle;
    }

    // The unit behind `handle`, or nullptr when this table never handed it out.
    Unit* Find(FT_HANDLE handle) const {
        if (handle == nullptr)
            return nullptr;
        for (const auto& unit : units_)
            if (unit.get() == handle)
                return unit.get();
        return nullptr;
    }

private:
    std::vector<std::unique_ptr<Unit>> units_;
};

} // namespace device
