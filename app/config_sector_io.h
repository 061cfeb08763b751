#pragma once
// The configuration sector as the two configuration pages read and write it: the read of the whole
// sector and its read-modify-write, each saying why where the module was there but failed.

#include <array>
#include <cstdint>
#include <QString>
#include <functional>

#include "app/page_services.h"
#include "model/config_sector.h"

class QWidget;

namespace tarven::app {

// The window's working copy of the sector (params_array), which both pages show and change.
using ConfigImage = std::array<std::uint8_t, model::kSectorSize>;

// Reads the sector; false, having said why where the module was there, on failure.
bool ReadConfigSector(const PageServices& services, QWidget* owner, model::Sector sector);
// Reads the sector, lets `change` change it and writes it back; says why where it failed.
void WriteConfigSector(const PageServices& services, QWidget* owner,
                       const std::function<void(model::Sector)>& change);

// The question both pages ask before they write, with its caption.
QString WriteQuestionCaption();
QString WriteQuestion();

}  // namespace tarven::app
