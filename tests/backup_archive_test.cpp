// The backup file: SHA-256 against known answers, the tar codec, and every kind of damaged or
// forged backup refused by the reader with a reason.

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "model/backup.h"
#include "model/config_sector.h"
#include "model/sha256.h"
#include "model/tar_archive.h"

namespace tarven::model {
namespace {

std::string Hex(std::string_view text) {
  return Sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Sha256, KnownAnswers) {
  EXPECT_EQ(Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // Lengths at the padding's edges, against sha256sum.
  EXPECT_EQ(Hex(std::string(55, 'x')),
            "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072");
  EXPECT_EQ(Hex(std::string(56, 'x')),
            "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e");
  EXPECT_EQ(Hex(std::string(64, 'x')),
            "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

TEST(TarArchive, RoundTripAndLayout) {
  const std::vector<TarEntry> entries = {
      {"a.txt", "hello\n"}, {"b.bin", std::string(512, 'b')}, {"empty", ""}};
  const std::string archive = WriteTar(entries, 1700000000);
  // Header, data padded to 512, header, 512 of data, header, no data, two empty blocks.
  EXPECT_EQ(archive.size(), 512u * (2 + 2 + 1 + 2));
  EXPECT_EQ(archive.substr(257, 8), std::string("ustar\0"
                                                "00",
                                                8));
  std::vector<TarEntry> read;
  std::string why;
  ASSERT_TRUE(ReadTar(archive, {}, read, why)) << why;
  ASSERT_EQ(read.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(read[i].name, entries[i].name);
    EXPECT_EQ(read[i].bytes, entries[i].bytes);
  }
}

// A backup of a module with recognisable bytes in every part.
Backup SampleBackup() {
  Backup backup;
  backup.tool_version = "4.54";
  backup.firmware = "4.54";
  backup.bootloader = "н/д";
  backup.created = "2026-12-10T22:50:07Z";
  WriteConfig(backup.sector, kDefaultConfig);
  for (std::size_t n = 1; n <= kEaParamCount; ++n) {
    SetEaParam(backup.sector, n, static_cast<std::int32_t>(n * 3));
  }
  SealEaTable(backup.sector);
  for (const AreaId area : {AreaId::MainRom, AreaId::AmtRom, AreaId::Kvp, AreaId::Ram}) {
    std::vector<std::uint8_t>& bytes = ImageOf(backup, area);
    bytes.resize(Area(area).size);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(area));
    }
  }
  return backup;
}

std::vector<TarEntry> Members(const std::string& archive) {
  std::vector<TarEntry> entries;
  std::string why;
  EXPECT_TRUE(ReadTar(archive, {}, entries, why)) << why;
  return entries;
}

TarEntry& Member(std::vector<TarEntry>& entries, const std::string& name) {
  for (TarEntry& entry : entries) {
    if (entry.name == name) return entry;
  }
  ADD_FAILURE() << "no member " << name;
  return entries.front();
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  text.replace(at, from.size(), to);
}

TEST(BackupFile, WrittenAndReadBackWhole) {
  const Backup backup = SampleBackup();
  const std::string archive = WriteBackup(backup, 1700000000);
  Backup read;
  std::string why;
  ASSERT_TRUE(ReadBackup(archive, read, why)) << why;
  EXPECT_EQ(read.sector, backup.sector);
  EXPECT_EQ(read.rom, backup.rom);
  EXPECT_EQ(read.amt, backup.amt);
  EXPECT_EQ(read.kvp, backup.kvp);
  EXPECT_EQ(read.ram, backup.ram);
  EXPECT_EQ(read.firmware, "4.54");
  EXPECT_EQ(read.created, "2026-12-10T22:50:07Z");
  std::vector<TarEntry> members = Members(archive);
  EXPECT_EQ(Member(members, "config.txt").bytes.rfind("X=4 4- версия 4\nZ=1", 0), 0u);
  EXPECT_EQ(Member(members, "params.csv").bytes.rfind("number,value\n1,3\n2,6\n", 0), 0u);
}

// Every damage refused, each with its own reason.
TEST(BackupFile, DamagedOrForgedBackupsAreRefused) {
  const std::string good = WriteBackup(SampleBackup(), 1700000000);
  const auto rebuilt = [&](const std::function<void(std::vector<TarEntry>&)>& change) {
    std::vector<TarEntry> entries = Members(good);
    change(entries);
    return WriteTar(entries, 1700000000);
  };
  const auto flipped = [&](std::size_t at) {
    std::string copy = good;
    copy[at] = static_cast<char>(copy[at] ^ 0x01);
    return copy;
  };
  // Where rom.bin's data lies in the archive: after the manifest (one header and its data, padded)
  // and config-sector.bin (a header and 2048 bytes) comes rom.bin's header.
  const std::size_t manifest_blocks = (Members(good)[0].bytes.size() + 511) / 512;
  const std::size_t rom_data = 512 * (1 + manifest_blocks + 1 + 4 + 1);
  const struct {
    const char* name;
    std::string archive;
    const char* reason;
  } cases[] = {
      {"empty", "", "empty"},
      {"cut inside a part", good.substr(0, rom_data + 1024), "cut short"},
      {"cut before its end blocks", good.substr(0, good.size() - 1024), "cut short"},
      {"not a whole block", good.substr(0, good.size() - 100), "not a whole number"},
      {"a flipped byte in an image", flipped(rom_data + 100), "part rom.bin: its SHA-256"},
      {"a flipped byte in a header", flipped(512 * (1 + manifest_blocks) + 10), "does not check"},
      {"a flipped byte in the manifest", flipped(512 + 20), "not a backup of this format"},
      {"not a tar at all", std::string(4096, 'x'), "not a tar archive"},
      {"a missing part", rebuilt([](auto& e) {
         std::erase_if(e, [](const TarEntry& m) { return m.name == "kvp.bin"; });
       }),
       "part kvp.bin is missing"},
      {"an extra part", rebuilt([](auto& e) {
         e.push_back({"notes.txt", "hi"});
       }),
       "member 'notes.txt' is not part of a backup"},
      {"a path that climbs out", rebuilt([](auto& e) {
         e.push_back({"../evil", "x"});
       }),
       "not a plain file name"},
      {"a manifest that puts a part at another address", rebuilt([](auto& e) {
         Replace(Member(e, "manifest.txt").bytes, "0x08035800 16384", "0x0803B800 16384");
       }),
       "part rom.bin: the manifest does not give its address and size"},
      {"a manifest that lies about a size", rebuilt([](auto& e) {
         Replace(Member(e, "manifest.txt").bytes, "0x08035800 16384", "0x08035800 16000");
       }),
       "part rom.bin: the manifest does not give its address and size"},
      {"a part of another size", rebuilt([](auto& e) { Member(e, "amt.bin").bytes.resize(4096); }),
       "part amt.bin: 4096 bytes"},
      {"another kind of module", rebuilt([](auto& e) {
         Replace(Member(e, "manifest.txt").bytes, "module tarven", "module other");
       }),
       "a backup of another kind of module"},
      {"another format", rebuilt([](auto& e) {
         Replace(Member(e, "manifest.txt").bytes, "tarven-backup 1", "tarven-backup 9");
       }),
       "not a backup of this format"},
      {"text copies that do not match", rebuilt([&good](auto& e) {
         Replace(Member(e, "config.txt").bytes, "X=4", "X=5");
         Replace(Member(e, "manifest.txt").bytes, "text config.txt " + Hex(Members(good)[6].bytes),
                 "text config.txt " + Hex(Member(e, "config.txt").bytes));
       }),
       "the text copies do not match"},
      // The CR at a line's end cannot be seen in a message that quotes the line: it is named.
      {"a manifest with CR LF line ends", rebuilt([](auto& e) {
         std::string& manifest = Member(e, "manifest.txt").bytes;
         for (std::size_t at = 0; (at = manifest.find('\n', at)) != std::string::npos; at += 2) {
           manifest.insert(at, "\r");
         }
       }),
       "manifest.txt ends its lines in CR LF"},
      {"a part named twice in the manifest", rebuilt([](auto& e) {
         std::string& manifest = Member(e, "manifest.txt").bytes;
         manifest += manifest.substr(manifest.find("part rom.bin"),
                                     manifest.find('\n', manifest.find("part rom.bin")) -
                                         manifest.find("part rom.bin") + 1);
       }),
       "a part named twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Backup read;
    std::string why;
    EXPECT_FALSE(ReadBackup(c.archive, read, why));
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
}

// A manifest whose digests were written in upper case (as some tools print them) is whole:
// sha256sum takes either case, and so does the backup reader.
TEST(BackupFile, DigestsInUpperCaseAreTaken) {
  const Backup backup = SampleBackup();
  std::vector<TarEntry> entries = Members(WriteBackup(backup, 1700000000));
  std::string& manifest = Member(entries, "manifest.txt").bytes;
  std::size_t digests = 0;
  for (const TarEntry& entry : entries) {
    if (entry.name == "manifest.txt") continue;
    std::string upper = Hex(entry.bytes);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Replace(manifest, Hex(entry.bytes), upper);
    ++digests;
  }
  EXPECT_EQ(digests, 7u);
  Backup read;
  std::string why;
  ASSERT_TRUE(ReadBackup(WriteTar(entries, 1700000000), read, why)) << why;
  EXPECT_EQ(read.rom, backup.rom);
  EXPECT_EQ(read.sector, backup.sector);
}

// Sets the checksum of the header at `at` right after a change, so that only the change is at
// fault.
void Reseal(std::string& archive, std::size_t at) {
  archive.replace(at + 148, 8, "        ");
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum += static_cast<unsigned char>(archive[at + i]);
  char text[8];
  std::snprintf(text, sizeof text, "%06o", sum);
  archive.replace(at + 148, 6, text);
  archive[at + 154] = '\0';
}

// A member that is not a regular file (a link, a folder, a device, an extended header) is refused
// by its type flag, whatever its name and bytes, in the first header or a later one.
TEST(BackupFile, MembersThatAreNotRegularFilesAreRefused) {
  const std::string good = WriteBackup(SampleBackup(), 1700000000);
  const std::size_t manifest_blocks = (Members(good)[0].bytes.size() + 511) / 512;
  const struct {
    const char* member;
    std::size_t header;
  } members[] = {{"manifest.txt", 0}, {"config-sector.bin", 512 * (1 + manifest_blocks)}};
  for (const auto& m : members) {
    for (const char flag : {'1', '2', '3', '4', '5', '6', 'x', 'g', 'L'}) {
      SCOPED_TRACE(std::string(m.member) + " type " + flag);
      std::string forged = good;
      ASSERT_EQ(forged[m.header + 156], '0');
      forged[m.header + 156] = flag;
      Reseal(forged, m.header);
      Backup read;
      std::string why;
      EXPECT_FALSE(ReadBackup(forged, read, why));
      EXPECT_EQ(why, "member '" + std::string(m.member) + "': not a regular file");
    }
  }
}

// A header that declares far more than is there, or more than any part may hold, is refused
// before anything is allocated for it.
TEST(BackupFile, HugeDeclaredSizesAreRefused) {
  std::string archive = WriteTar({{"rom.bin", "x"}}, 0);
  for (const char* size : {"77777777777", "00000200001"}) {  // 8 GiB, and one byte more than 64 KiB
    std::string forged = archive;
    forged.replace(124, 11, size);
    Reseal(forged, 0);
    std::vector<TarEntry> entries;
    std::string why;
    EXPECT_FALSE(ReadTar(forged, {8, 64 * 1024}, entries, why));
    EXPECT_NE(why.find("declares"), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace tarven::model
