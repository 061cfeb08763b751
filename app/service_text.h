#pragma once
// The words of the page "Сервис": its captions, and what it says of modules, parts, results and
// failures, in the window's Russian. Shared by the page's files; nothing else uses them.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_probe.h"
#include "device/operations.h"
#include "device/outcome.h"
#include "model/backup.h"
#include "service/module_backup.h"

namespace tarven::app::service_text {

inline const QString kCaption = QStringLiteral("Тарвен");
inline const QString kWriteQuestion = QStringLiteral("Записать в ППЗУ Тарвен?");

// Text from the module, a file or the system, printable.
QString Text(const std::string& utf8);
// "0x0000A000".
QString Hex32(std::uint32_t value);
// "ПЗУ", "Конфигурация", ...; several joined with commas.
QString PartName(model::BackupPart part);
QString PartNames(const std::vector<model::BackupPart>& parts);
// The part a whole-module read was at.
QString StageName(service::ReadStage stage);
// Why an operation did not go through.
QString Why(const device::Outcome& outcome);
// What became of the CNC when the RAM was read; empty when the RAM was not reached.
QString CncNote(const service::ModuleReading& reading);
// The rows of a module read: each part read, and the one that failed.
std::vector<QStringList> ReadingRows(const service::ModuleReading& reading);
// One part of a restore: "записано, проверено", or where it went wrong.
QString RestoreResultText(const service::PartResult& result, device::RamBank bank);
// What the modules table says of a device, and how to mend one that cannot be opened.
QString StateText(const device::DeviceProbe& probe);
QString FixText(const device::DeviceProbe& probe);
// "1-2.3 (серийный № T0042)".
QString ModuleName(const device::DeviceProbe& probe);
// A line of a file quoted in a message: printable, and cut (between letters) when long.
std::string Excerpt(std::string_view line);

}  // namespace tarven::app::service_text
