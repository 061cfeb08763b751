// The page "Сервис": the journal of the module the window serves, and the way back from a change
// whose replaced bytes the journal keeps.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs.h"
#include "app/service_page.h"
#include "app/service_text.h"
#include "journal/journal.h"
#include "journal/undo.h"

namespace tarven::app {

using namespace service_text;

namespace {

namespace dev = tarven::device;

// "выполнено", or what went wrong, for a record's result.
QString ResultText(const journal::Record& record) {
  if (record.result == "done") return QStringLiteral("выполнено");
  const QString detail =
      record.result_detail.empty() ? QString() : QStringLiteral(": ") + Text(record.result_detail);
  if (record.result == "stopped") return QStringLiteral("остановлено") + detail;
  return QStringLiteral("не выполнено") + detail;
}

QStringList RecordRow(const journal::Record& record, bool undoable) {
  QStringList parts;
  for (const journal::Part& part : record.parts) parts << Text(part.name);
  QString time = Text(record.time);
  time.replace(QLatin1Char('T'), QLatin1Char(' ')).remove(QLatin1Char('Z'));
  const QString action =
      Text(record.operation) + (record.detail.empty() ? QString() : QStringLiteral(" ") + Text(record.detail));
  return {QString::number(record.id),
          time,
          Text(record.program + " " + record.version),
          action,
          parts.join(QStringLiteral(", ")),
          ResultText(record),
          undoable ? QStringLiteral("можно") : QString()};
}

// What became of an undo.
QString UndoText(std::int64_t id, const journal::UndoResult& result) {
  using journal::UndoStatus;
  const QString part = Text(result.part);
  switch (result.status) {
    case UndoStatus::Done:
      return QStringLiteral("Возвращено как было до записи № %1: %2; каждая часть проверена "
                            "чтением.")
          .arg(id)
          .arg(Text([&] {
            std::string names;
            for (const std::string& name : result.restored) names += (names.empty() ? "" : ", ") + name;
            return names;
          }()));
    case UndoStatus::NoSuchRecord:
      return QStringLiteral("В журнале нет записи № %1.").arg(id);
    case UndoStatus::NothingKept:
      return QStringLiteral("Журнал не хранит того, что заменила запись № %1: вернуть нечего.")
          .arg(id);
    case UndoStatus::OtherModule:
      return QStringLiteral("Запись № %1 сделана в другом модуле. Ничего не записано.").arg(id);
    case UndoStatus::Changed:
      return QStringLiteral("Модуль изменился после записи № %1 (часть «%2»): вернуть старое "
                            "значило бы потерять новое. Ничего не записано; при необходимости "
                            "выполните «tarvenctl undo %1 --force».")
          .arg(id)
          .arg(part);
    case UndoStatus::Failed:
      return QStringLiteral("Не возвращено (часть «%1»): %2. Части до неё записаны; см. журнал.")
          .arg(part, Why(result.outcome));
    case UndoStatus::NotVerified:
      return QStringLiteral("Записано, но часть «%1» при проверке прочитана иначе.").arg(part);
    case UndoStatus::JournalError:
      return QStringLiteral("Журнал не прочитан: %1").arg(Text(result.detail));
  }
  return {};
}

}  // namespace

void ServicePage::SetJournalFile(std::string path) {
  journal_file_ = std::move(path);
  EnableButtons();
}

void ServicePage::JournalButtonClick() {
  if (Working()) return;
  ShowJournal();
}

void ServicePage::ShowJournal() {
  ui_.ServiceProgressBar->setValue(0);
  ShowRows({}, {});
  journal::Journal::Opened opened = journal::Journal::Open(journal_file_);
  std::vector<journal::Record> records;
  std::string error;
  if (!opened.journal ||
      !opened.journal->List(journal::Filter{served_device_, {}}, records, error)) {
    const QString text = QStringLiteral("Журнал не прочитан: %1")
                             .arg(Text(opened.journal ? error : opened.error));
    ui_.ResultLabel->setText(text);
    Tell(text);
    return;
  }
  std::reverse(records.begin(), records.end());
  std::vector<QStringList> rows;
  std::vector<JournalRow> kept;
  for (const journal::Record& record : records) {
    const bool undoable = std::any_of(record.parts.begin(), record.parts.end(),
                                      [](const journal::Part& part) { return part.before_kept; });
    rows.push_back(RecordRow(record, undoable));
    kept.push_back({record.id, undoable});
  }
  ShowRows({QStringLiteral("№"), QStringLiteral("Время (UTC)"), QStringLiteral("Программа"),
            QStringLiteral("Действие"), QStringLiteral("Части"), QStringLiteral("Итог"),
            QStringLiteral("Вернуть")},
           rows);
  journal_rows_ = std::move(kept);
  ui_.ResultLabel->setText(
      records.empty()
          ? QStringLiteral("Журнал модуля %1 пуст.").arg(Text(served_device_))
          : QStringLiteral("Журнал модуля %1: записей %2, новые сверху. Выберите запись с "
                           "отметкой «можно», чтобы вернуть то, что она заменила.")
                .arg(Text(served_device_))
                .arg(records.size()));
  EnableButtons();
}

void ServicePage::UndoButtonClick() {
  if (Working()) return;
  const int row = ui_.ResultsTable->currentRow();
  if (row < 0 || row >= static_cast<int>(journal_rows_.size())) {
    Tell(QStringLiteral("Выберите запись в журнале модуля."));
    return;
  }
  const JournalRow chosen = journal_rows_[static_cast<std::size_t>(row)];
  if (!chosen.undoable) {
    Tell(QStringLiteral("Журнал не хранит того, что заменила запись № %1: вернуть нечего.")
             .arg(chosen.id));
    return;
  }
  if (!services_.dialogs.AskYesNo(
          window(), kCaption,
          kWriteQuestion +
              QStringLiteral("\n\nВернуть то, что было в модуле до записи № %1 (все части той "
                             "команды), если модуль с тех пор не менялся.")
                  .arg(chosen.id))) {
    return;
  }
  const std::string path = journal_file_;
  const std::int64_t id = chosen.id;
  Start([this, path, id](dev::Link& link, const dev::Progress&) -> std::function<void()> {
    journal::UndoResult result;
    journal::Journal::Opened opened = journal::Journal::Open(path);
    if (opened.journal) {
      result = journal::Undo(link, *opened.journal, id, false);
    } else {
      result.status = journal::UndoStatus::JournalError;
      result.detail = opened.error;
    }
    return [this, id, result] {
      const QString text = UndoText(id, result);
      // The undo is itself a record: the list shows it at the top.
      ShowJournal();
      ui_.ServiceProgressBar->setValue(100);
      ui_.ResultLabel->setText(text);
      if (result.status != journal::UndoStatus::Done) Tell(text);
    };
  }, false);
}

}  // namespace tarven::app
