// One unit chosen by its serial number among those a way lists: it becomes the
// unit at index 0, so the connection opens it and no other, and it is waited for
// while it is not there.
#pragma once

#include "device/port.h"

#include <memory>
#include <string>

namespace device {

class SerialChoiceBackend : public Backend {
public:
    SerialChoiceBackend(std::unique_ptr<Backend> inner, std::string serialNumber);

    // Whether `inner` lists a unit with this serial number now.
    static bool Lists(Backend& inner, const std::string& serialNumber);

    UnitKind Kind() const override { return inner_->Kind(); }
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    std::vector<UnitListing> Units() override { return inner_->Units(); }
    std::string SoughtSerialNumber() const override { return serialNumber_; }

private:
    std::string NotThere() const;

    std::unique_ptr<Backend> inner_;
    std::string serialNumber_;
};

} // namespace device
