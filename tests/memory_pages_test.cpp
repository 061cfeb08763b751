// The memory pages against the simulated module, with the dialogs answered by the test: previews,
// imports, reads into files and writes to the module.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QListWidget>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/main_form.h"
#include "form_fixture.h"

namespace tarven::testing {
namespace {

using app::TMainForm;
namespace fs = std::filesystem;

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 29 + seed);
  return bytes;
}

QStringList Lines(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

QString Repeat(const char* text, int times) {
  QString out;
  for (int i = 0; i < times; ++i) out += QString::fromLatin1(text);
  return out;
}

QString Hex(const Bytes& bytes, std::size_t from, std::size_t to) {
  QString out;
  for (std::size_t i = from; i < to; ++i)
    out += QStringLiteral(" %1").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
  return out;
}

class MemoryPagesTest : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    dir_ = fs::temp_directory_path() / ("tarven-memory-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    form_ = MakeForm();
    app_record().Found = true;
  }
  void TearDown() override {
    form_.reset();
    fs::remove_all(dir_);
    FormTest::TearDown();
  }
  QString Path(const char* name) const { return QString::fromStdString((dir_ / name).string()); }
  QString Write(const char* name, const Bytes& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Path(name);
  }
  Bytes Read(const QString& path) const {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  Bytes Mat() const { return Bytes(form_->MainRom().MAT_array.begin(), form_->MainRom().MAT_array.end()); }
  Bytes Amt() const { return Bytes(form_->AmtRom().AMT_array.begin(), form_->AmtRom().AMT_array.end()); }

  fs::path dir_;
  std::unique_ptr<TMainForm> form_;
};

TEST_F(MemoryPagesTest, StartUpImagesAndPreviews) {
  EXPECT_EQ(Mat(), Bytes(16384, 0xFF));
  EXPECT_EQ(Amt(), Bytes(8192, 0xFF));
  EXPECT_EQ(Bytes(form_->Ram().RAM_array.begin(), form_->Ram().RAM_array.end()), Bytes(16384, 0x00));
  const struct {
    QListWidget* list;
    const char* byte;
    int per_line;
  } lists[] = {{Child<QListWidget>(form_->MainRom(), "ListBox1"), " FF", 16},
               {Child<QListWidget>(form_->AmtRom(), "ListBox2"), " FF", 8},
               {Child<QListWidget>(form_->AmtRom(), "ListBox4"), " FF", 8},
               {Child<QListWidget>(form_->Kvp(), "ListBox3"), " FF", 16},
               {Child<QListWidget>(form_->Ram(), "ListBox5"), " 00", 16}};
  for (const auto& l : lists) {
    EXPECT_EQ(Lines(l.list), QStringList(8, Repeat(l.byte, l.per_line)))
        << l.list->objectName().toStdString();
    // Eight rows of 14 pixels show without scrolling.
    EXPECT_EQ(l.list->sizeHintForRow(0), 14);
    EXPECT_GE(l.list->height() - 2 * l.list->frameWidth(), 8 * 14)
        << l.list->objectName().toStdString();
  }
  app::ShowImageListing(Child<QListWidget>(form_->MainRom(), "ListBox1"),
                        form_->MainRom().MAT_array, 0, 16);
  EXPECT_EQ(Child<QListWidget>(form_->MainRom(), "ListBox1")->count(), 8)
      << "drawing twice leaves eight lines";
}

TEST_F(MemoryPagesTest, ImportsTakeFilesAndRedrawOnlyTheirLists) {
  const Bytes hundred = Pattern(100, 1);
  dialogs().ChooseOpenFileName(Write("short.bin", hundred));
  form_->BitBtn1Click();
  EXPECT_EQ(Bytes(form_->MainRom().MAT_array.begin(), form_->MainRom().MAT_array.begin() + 100),
            hundred);
  EXPECT_EQ(Lines(Child<QListWidget>(form_->MainRom(), "ListBox1"))[6],
            Hex(hundred, 96, 100) + Repeat(" FF", 12));

  // D83 then D82 interleave the two chips.
  const Bytes low = Pattern(8192, 2), high = Pattern(8192, 3);
  dialogs().ChooseOpenFileName(Write("d83.bin", low));
  form_->BitBtn2Click();
  dialogs().ChooseOpenFileName(Write("d82.bin", high));
  form_->BitBtn3Click();
  EXPECT_EQ(form_->MainRom().MAT_array[0], low[0]);
  EXPECT_EQ(form_->MainRom().MAT_array[1], high[0]);
  EXPECT_EQ(form_->MainRom().MAT_array[16383], high[8191]);

  // A chip of the AMT's second half changes that half's list only.
  const QStringList first_half = Lines(Child<QListWidget>(form_->AmtRom(), "ListBox2"));
  dialogs().ChooseOpenFileName(Write("d74.bin", Pattern(2048, 4)));
  form_->BitBtn9Click();
  EXPECT_EQ(Lines(Child<QListWidget>(form_->AmtRom(), "ListBox2")), first_half);
  EXPECT_EQ(Lines(Child<QListWidget>(form_->AmtRom(), "ListBox4"))[0].left(6),
            Hex(Pattern(2048, 4), 0, 1) + " FF");
  EXPECT_EQ(form_->AmtRom().AMT_array[4097], 0xFF);

  // Cancelling changes nothing.
  const Bytes before = Mat();
  dialogs().CancelOpenFile();
  form_->BitBtn1Click();
  EXPECT_EQ(Mat(), before);
}

TEST_F(MemoryPagesTest, FilesThatCannotBeReadAreToldAndChangeNothing) {
  const Bytes before = Mat();
  const QString missing = Path("missing.bin");
  dialogs().ChooseOpenFileName(missing);
  dialogs().AcknowledgeError();
  form_->BitBtn1Click();
  ASSERT_FALSE(dialogs().asked().empty());
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(missing));

  const std::string fifo = (dir_ / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  dialogs().ChooseOpenFileName(QString::fromStdString(fifo));
  dialogs().AcknowledgeError();
  form_->BitBtn2Click();  // never waits on the pipe
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Cannot open file \"%1\". Not a regular file")
                .arg(QString::fromStdString(fifo)));
  EXPECT_EQ(Mat(), before);
}

TEST_F(MemoryPagesTest, ReadsSendTheirCommandsAndSaveWhatCame) {
  const Bytes amt = Pattern(8192, 5);
  module().SetFlash(0x08039800, amt);
  sim_->ClearLog();
  const QString file = Path("amt.bin");
  dialogs().ChooseSaveFileName(file);
  form_->BitBtn5Click();
  const auto commands = SentCommands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], Frame(10, 0x08039800, 8192));
  EXPECT_EQ(Fetches(), 1u + 8192 / 64 + 1);
  EXPECT_EQ(Amt(), amt);
  EXPECT_EQ(Lines(Child<QListWidget>(form_->AmtRom(), "ListBox4"))[0], Hex(amt, 4096, 4104));
  EXPECT_EQ(Read(file), amt);
  EXPECT_EQ(form_->HidHandle, device::kInvalidHandle);

  // The RAM read starts the CNC afterwards even when it was stopped.
  module().cnc_running = false;
  module().ram = Pattern(16384, 6);
  sim_->ClearLog();
  dialogs().ChooseSaveFileName(Path("ram.bin"));
  form_->BitBtn14Click();
  const auto ram_commands = SentCommands();
  ASSERT_EQ(ram_commands.size(), 3u);
  EXPECT_EQ(ram_commands[0], Frame(12));
  EXPECT_EQ(ram_commands[1], Frame(17, 0, 16384));
  EXPECT_EQ(ram_commands[2], Frame(16));
  EXPECT_TRUE(module().cnc_running);

  // Saved and imported again, it is the same image.
  form_->Ram().RAM_array.fill(0);
  dialogs().ChooseOpenFileName(Path("ram.bin"));
  form_->BitBtn13Click();
  EXPECT_EQ(Bytes(form_->Ram().RAM_array.begin(), form_->Ram().RAM_array.end()), module().ram);
}

TEST_F(MemoryPagesTest, WritesSendTheLoadedImage) {
  const Bytes rom = Pattern(16384, 7);
  dialogs().ChooseOpenFileName(Write("rom.bin", rom));
  form_->BitBtn1Click();
  sim_->ClearLog();
  dialogs().AnswerYes();
  form_->Button5Click();
  ASSERT_EQ(dialogs().asked().back().text, QStringLiteral("Записать в ППЗУ Тарвен?"));
  EXPECT_EQ(dialogs().asked().back().caption, QStringLiteral("Тарвен"));
  const auto commands = SentCommands();
  ASSERT_EQ(commands.size(), 16u);
  for (std::uint32_t k = 0; k < 8; ++k) {
    EXPECT_EQ(commands[2 * k][2], 9);
    EXPECT_EQ(Le32At(commands[2 * k], 7), 0x08035800 + 2048 * k);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 2048; ++i) sum += rom[2048 * k + i];
    EXPECT_EQ(Le32At(commands[2 * k], 3), sum);
  }
  EXPECT_EQ(module().FlashAt(0x08035800, 16384), rom);

  // The reserve bank: 12, 18, the stream, 19 with 16384, 13.
  form_->Ram().RAM_array.fill(0x3C);
  sim_->ClearLog();
  dialogs().AnswerYes();
  form_->Button14Click();
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Записать в ОЗУ и энергонезависимую память Тарвен?"));
  const auto ram = SentCommands();
  ASSERT_EQ(ram.size(), 4u);
  EXPECT_EQ(ram[0], Frame(12));
  EXPECT_EQ(ram[1], Frame(18, 0, 16384));
  EXPECT_EQ(ram[2], Frame(19, 16384, 16384));
  EXPECT_EQ(ram[3], Frame(13));
  EXPECT_EQ(Sent().size(), 1u + 4 + 256);  // identify, four commands, the stream
  EXPECT_EQ(module().ram_reserve_bank, Bytes(16384, 0x3C));
}

TEST_F(MemoryPagesTest, DecliningOrCancellingSendsNothingAndTouchesNoFile) {
  const QString existing = Write("keep.bin", Bytes{1, 2, 3});
  sim_->ClearLog();
  dialogs().CancelSaveFile();
  form_->BitBtn4Click();
  dialogs().ChooseSaveFileName(existing);
  dialogs().AnswerNo();
  form_->BitBtn4Click();
  EXPECT_EQ(dialogs().asked().back().caption, QStringLiteral("Внимание!"));
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Файл с таким именем существует\n\rПродолжить?"));
  for (auto button : {&TMainForm::Button5Click, &TMainForm::Button7Click, &TMainForm::Button9Click,
                      &TMainForm::Button4Click, &TMainForm::Button14Click}) {
    dialogs().AnswerNo();
    (form_.get()->*button)();
  }
  EXPECT_TRUE(sim_->log().empty());
  EXPECT_EQ(Read(existing), (Bytes{1, 2, 3}));

  // With the module gone since the last poll, the existing file is left as it was.
  sim_->Unplug();
  dialogs().ChooseSaveFileName(existing);
  dialogs().AnswerYes();
  form_->BitBtn6Click();
  EXPECT_EQ(Read(existing), (Bytes{1, 2, 3}));

  // Without a module, no button asks anything.
  app_record().Found = false;
  const std::size_t asked = dialogs().asked().size();
  for (auto button :
       {&TMainForm::BitBtn4Click, &TMainForm::BitBtn5Click, &TMainForm::BitBtn6Click,
        &TMainForm::BitBtn14Click, &TMainForm::Button5Click, &TMainForm::Button7Click,
        &TMainForm::Button9Click, &TMainForm::Button4Click, &TMainForm::Button14Click}) {
    (form_.get()->*button)();
  }
  EXPECT_EQ(dialogs().asked().size(), asked);
}

// Where the module or the disk fails, the tool says so and loses nothing.
TEST_F(MemoryPagesTest, FailedTransfersAndFilesAreToldAndLoseNothing) {
  using F = sim::SimBackend::Fault;
  const QString existing = Write("old.bin", Bytes{9, 9});
  const Bytes image_before = Mat();
  const QStringList list_before = Lines(Child<QListWidget>(form_->MainRom(), "ListBox1"));
  sim_->ArmFault(2 + 1 + 40, F::Refuse);  // a data fetch halfway through the read
  dialogs().ChooseSaveFileName(existing);
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  form_->BitBtn4Click();
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Ошибка чтения из модуля. Файл не записан."));
  EXPECT_EQ(Mat(), image_before);
  EXPECT_EQ(Lines(Child<QListWidget>(form_->MainRom(), "ListBox1")), list_before);
  EXPECT_EQ(Read(existing), (Bytes{9, 9}));

  // The RAM read that fails still starts the CNC.
  sim_->ClearLog();
  sim_->ArmFault(2 + 2 + 10, F::Refuse);
  dialogs().ChooseSaveFileName(Path("ram.bin"));
  dialogs().AcknowledgeMessage();
  form_->BitBtn14Click();
  EXPECT_EQ(SentCommands().back(), Frame(16));
  EXPECT_FALSE(fs::exists(dir_ / "ram.bin"));

  // The RAM that arrived whole is kept, shown and saved when only the start of the CNC after it
  // is refused (identify 2, 12, 17, 257 fetches, then 16); the message says that the CNC stands.
  module().ram = Pattern(16384, 8);
  sim_->ArmFault(2 + 2 + 257 + 1, F::Refuse);
  dialogs().ChooseSaveFileName(Path("ram.bin"));
  dialogs().AcknowledgeMessage();
  form_->BitBtn14Click();
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral(
                "ОЗУ считано. УЧПУ осталось остановленным: модуль не ответил на команду запуска."));
  EXPECT_EQ(Bytes(form_->Ram().RAM_array.begin(), form_->Ram().RAM_array.end()), module().ram);
  EXPECT_EQ(Lines(Child<QListWidget>(form_->Ram(), "ListBox5"))[0], Hex(module().ram, 0, 16));
  EXPECT_EQ(Read(Path("ram.bin")), module().ram);
  EXPECT_FALSE(module().cnc_running);
  fs::remove(dir_ / "ram.bin");

  // A refused block report is told after the whole write went out.
  sim_->ClearLog();
  sim_->ArmFault(2 + 1 + 5, F::Refuse);
  dialogs().AnswerYes();
  dialogs().AcknowledgeMessage();
  form_->Button7Click();
  EXPECT_EQ(dialogs().asked().back().text, QStringLiteral("Ошибка записи в модуль."));
  EXPECT_EQ(SentCommands().size(), 8u) << "every block announced and closed";

  // A file that stops short (the system refuses to let it grow) keeps the old one.
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  dialogs().ChooseSaveFileName(existing);
  dialogs().AnswerYes();
  dialogs().AcknowledgeError();
  form_->BitBtn6Click();
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Cannot write file \"%1\". File too large").arg(existing));
  EXPECT_EQ(Read(existing), (Bytes{9, 9}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no temporary file is left behind";

  // A folder that cannot be written: the image is read, the file cannot be created.
  const QString nowhere = Path("no/such/folder/rom.bin");
  dialogs().ChooseSaveFileName(nowhere);
  dialogs().AcknowledgeError();
  form_->BitBtn4Click();
  EXPECT_EQ(dialogs().asked().back().text,
            QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(nowhere));
  EXPECT_EQ(form_->HidHandle, device::kInvalidHandle);
  EXPECT_EQ(sim_->OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace tarven::testing
