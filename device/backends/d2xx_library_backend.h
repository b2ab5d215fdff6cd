// The unit through FTDI's own D2XX library (libftd2xx.so), loaded when the
// logger starts if it is installed. Nothing about it is needed to build Tavrin.
#pragma once

#include "device/port.h"

#include <memory>
#include <string>
#include <vector>

namespace device {

// The library's calls, once loaded.
struct LoadedD2xxLibrary;

class D2xxLibraryBackend : public Backend {
public:
    static constexpr const char* kDefaultLibrary = "libftd2xx.so";

    // `library` is a name for the dynamic loader's search or a path. When it cannot
    // be loaded, or lacks one of the ten calls, the backend lists no unit and
    // Problem() says why.
    explicit D2xxLibraryBackend(std::string library = kDefaultLibrary);
    ~D2xxLibraryBackend() override;

    bool Loaded() const { return library_ != nullptr; }

    UnitKind Kind() const override { return UnitKind::D2xxLibrary; }
    FT_STATUS List(DWORD index, std::string& serialNumber) override;
    // Only handles the library gave are passed to it, and only while open. The
    // library's own waiting is not offered to us: the port's wait looks again every few ms.
    FT_STATUS Open(const std::string& serialNumber, std::unique_ptr<Port>& port) override;
    std::vector<UnitListing> Units() override;

private:
    std::string name_;
    // Shared with the ports it opened: it stays loaded while a unit is open.
    std::shared_ptr<LoadedD2xxLibrary> library_;
};

} // namespace device
