#include "app/service_text.h"

#include "device/module_lock.h"
#include "model/printable_text.h"
#include "model/version_text.h"

namespace tarven::app::service_text {

namespace dev = tarven::device;
using model::BackupPart;

QString Text(const std::string& utf8) {
  return QString::fromStdString(model::Printable(utf8));
}

QString Hex32(std::uint32_t value) {
  return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')).toUpper().replace(
      QStringLiteral("0X"), QStringLiteral("0x"));
}

QString PartName(BackupPart part) {
  switch (part) {
    case BackupPart::Config:
      return QStringLiteral("Конфигурация");
    case BackupPart::Params:
      return QStringLiteral("Параметры");
    case BackupPart::Rom:
      return QStringLiteral("ПЗУ");
    case BackupPart::Amt:
      return QStringLiteral("ПЗУ АМТ");
    case BackupPart::Kvp:
      return QStringLiteral("КВПП");
    case BackupPart::Ram:
      return QStringLiteral("ОЗУ");
  }
  return {};
}

QString StageName(service::ReadStage stage) {
  switch (stage) {
    case service::ReadStage::Status:
      return QStringLiteral("Состояние модуля");
    case service::ReadStage::Sector:
      return QStringLiteral("Конфигурация и параметры");
    case service::ReadStage::Rom:
      return PartName(BackupPart::Rom);
    case service::ReadStage::Amt:
      return PartName(BackupPart::Amt);
    case service::ReadStage::Kvp:
      return PartName(BackupPart::Kvp);
    case service::ReadStage::Ram:
      return PartName(BackupPart::Ram);
  }
  return {};
}

// Why an operation did not go through, in the window's words.
QString Why(const dev::Outcome& outcome) {
  switch (outcome.failure) {
    case dev::Failure::None:
      return QStringLiteral("выполнено");
    case dev::Failure::NoModule:
      return QStringLiteral("модуль не найден");
    case dev::Failure::BootLoaderOnly:
      return QStringLiteral("модуль работает в режиме загрузчика");
    case dev::Failure::NoIdentify:
      return QStringLiteral("устройство не отвечает на команду опознания");
    case dev::Failure::NoAccess:
      return QStringLiteral("нет доступа к устройству %1: %2")
          .arg(Text(outcome.subject), Text(outcome.reason));
    case dev::Failure::NotAnswering:
      return QStringLiteral("модуль не ответил (пакет %1)").arg(outcome.report);
    case dev::Failure::ChecksumMismatch:
      return QStringLiteral("не сходится контрольная сумма");
    case dev::Failure::ReadBeforeWrite:
      return QStringLiteral("сектор не считан перед записью, запись не выполнена");
    case dev::Failure::FileError:
      return QStringLiteral("файл %1: %2").arg(Text(outcome.subject), Text(outcome.reason));
    case dev::Failure::Cancelled:
      return outcome.total > 0 ? QStringLiteral("остановлено по запросу (выполнено %1 из %2 байт)")
                                     .arg(outcome.done)
                                     .arg(outcome.total)
                               : QStringLiteral("остановлено по запросу");
    case dev::Failure::CncLeftStopped:
      return QStringLiteral("УЧПУ осталось остановленным: модуль не ответил на команду запуска");
    case dev::Failure::InvalidRequest:
      return QStringLiteral("недопустимый запрос");
    case dev::Failure::ModuleBusy:
      return QStringLiteral("модуль %1 занят другой программой: %2")
          .arg(Text(outcome.subject), Text(outcome.reason));
  }
  return {};
}

// What became of the CNC when the RAM was read.
QString CncNote(const service::ModuleReading& reading) {
  if (!reading.ram_reached || reading.outcome.not_reached()) return {};
  if (!reading.cnc.read) {
    return QStringLiteral("Состояние УЧПУ не получено: УЧПУ не останавливалось.");
  }
  if (!reading.cnc.was_running) return QStringLiteral("УЧПУ было остановлено и осталось остановленным.");
  if (reading.outcome.failure == dev::Failure::CncLeftStopped) {
    return QStringLiteral("УЧПУ осталось остановленным: модуль не ответил на команду запуска.");
  }
  if (reading.outcome.ok() || reading.outcome.failure == dev::Failure::Cancelled) {
    return QStringLiteral("УЧПУ было остановлено для чтения ОЗУ и запущено снова.");
  }
  return QStringLiteral("УЧПУ было остановлено для чтения ОЗУ и, возможно, осталось остановленным.");
}

// The rows of a module read: each part read, and the one that failed.
std::vector<QStringList> ReadingRows(const service::ModuleReading& reading) {
  std::vector<QStringList> rows;
  const service::ReadStage stages[] = {service::ReadStage::Sector, service::ReadStage::Rom,
                                       service::ReadStage::Amt, service::ReadStage::Kvp,
                                       service::ReadStage::Ram};
  for (const service::ReadStage stage : stages) {
    if (!reading.whole() && stage == reading.failed_at) {
      rows.push_back({StageName(stage), QStringLiteral("не считано: ") + Why(reading.outcome)});
      break;
    }
    rows.push_back({StageName(stage), QStringLiteral("считано")});
  }
  return rows;
}

QString PartNames(const std::vector<BackupPart>& parts) {
  QStringList names;
  for (const BackupPart part : parts) names << PartName(part);
  return names.join(QStringLiteral(", "));
}

QString RestoreResultText(const service::PartResult& result, dev::RamBank bank) {
  using State = service::PartResult::State;
  switch (result.state) {
    case State::Failed:
      return QStringLiteral("не записано: ") + Why(result.written);
    case State::Written:
      if (result.parts.front() == BackupPart::Ram) {
        return bank == dev::RamBank::Main
                   ? QStringLiteral("записано в основной банк; модуль перезапускается")
                   : QStringLiteral("записано в резервный банк; модуль перезапускается");
      }
      return QStringLiteral("записано, не проверено");
    case State::Verified:
      return QStringLiteral("записано, проверено");
    case State::Differs:
      return QStringLiteral("записано, но при проверке отличается с адреса ") +
             Hex32(result.first_difference);
    case State::ReadBackFailed:
      return QStringLiteral("записано, но проверить не удалось: ") + Why(result.read_back);
  }
  return {};
}

// What the modules table says of a device.
QString StateText(const dev::DeviceProbe& probe) {
  const auto firmware = [&] {
    return probe.firmware_version ? Text(model::FirmwareVersionText(*probe.firmware_version))
                                  : QString::fromUtf8(model::kNotAvailable);
  };
  switch (probe.personality) {
    case dev::Personality::Application:
      return QStringLiteral("прошивка ") + firmware();
    case dev::Personality::BootLoader:
      return QStringLiteral("загрузчик ") +
             (probe.boot_version ? Text(model::BootVersionText(*probe.boot_version))
                                 : QString::fromUtf8(model::kNotAvailable)) +
             QStringLiteral(", прошивка ") + firmware();
    case dev::Personality::Other:
      return QStringLiteral("не модуль (код опознания 0x%1)")
          .arg(probe.device_code, 4, 16, QLatin1Char('0'));
    case dev::Personality::Silent:
      return QStringLiteral("не отвечает на команду опознания");
    case dev::Personality::NotAsked:
      break;
  }
  if (probe.busy) {
    return QStringLiteral("занят: ") + Text(dev::DescribeHolder(*probe.busy));
  }
  if (!probe.opened) {
    return QStringLiteral("не открывается: ") +
           (probe.open_error.empty() ? QString::fromUtf8(model::kNotAvailable)
                                     : Text(probe.open_error));
  }
  if (!probe.feature_report_length) return QStringLiteral("не читается описание отчётов");
  return QStringLiteral("не модуль (отчёт %1 байт, у модуля 65)")
      .arg(*probe.feature_report_length);
}

// How to mend a device that cannot be opened, for its row's tip.
QString FixText(const dev::DeviceProbe& probe) {
  if (probe.busy) {
    return QStringLiteral("Модулем пользуется другая программа. Дождитесь её завершения.");
  }
  if (probe.opened || probe.personality != dev::Personality::NotAsked) return {};
  if (probe.permission) {
    return QStringLiteral(
        "Нет прав на устройство. Установите пакет tarven (правило udev) или скопируйте "
        "resources/70-tarven.rules в /etc/udev/rules.d/ и выполните от имени root:\n"
        "udevadm control --reload && udevadm trigger --subsystem-match=hidraw\n"
        "Пользователю без своего места за компьютером (ssh, служба) дайте права группе: "
        "см. README, «Who may open the module».");
  }
  return QStringLiteral("Переподключите модуль; «tarvenctl devices» покажет причину подробно.");
}

QString ModuleName(const dev::DeviceProbe& probe) {
  const QString where = Text(probe.info.usb_location.empty() ? probe.info.path
                                                              : probe.info.usb_location);
  return probe.info.serial_number.empty()
             ? where
             : QStringLiteral("%1 (серийный № %2)").arg(where, Text(probe.info.serial_number));
}

// A line of a file quoted in a message: printable, and cut (between letters) when long.
std::string Excerpt(std::string_view line) {
  const std::string shown = model::Printable(line);
  constexpr std::size_t kLimit = 40;
  if (shown.size() <= kLimit) return shown;
  std::size_t cut = kLimit;
  while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
  return shown.substr(0, cut) + "…";
}

}  // namespace tarven::app::service_text
