// The headers of a PE image (a Windows executable) as launcher-pack reads and extends them: the
// section table and the data directories, every offset checked against the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload_format.h"

namespace launcher_pack {

inline constexpr int kResourceDirectory = 2;
inline constexpr int kCertificateDirectory = 4;
inline constexpr int kDebugDirectory = 6;

struct PeSection {
  std::string name;  // the 8 raw bytes up to the first NUL
  std::uint32_t virtual_size = 0, virtual_address = 0;
  std::uint32_t raw_size = 0, raw_offset = 0;
  std::uint32_t characteristics = 0;
};

struct PeImage {
  bool pe32_plus = false;
  std::size_t file_header = 0;      // the COFF file header, just after "PE\0\0"
  std::size_t optional_header = 0;  // the optional header after it
  std::uint32_t section_alignment = 0, file_alignment = 0;
  std::uint32_t size_of_headers = 0;
  std::size_t data_directories = 0;  // offset of the data directory array
  std::uint32_t data_directory_count = 0;
  std::size_t section_table = 0;
  std::vector<PeSection> sections;
};

struct DataDirectory {
  std::uint32_t address = 0;  // an RVA, except for the certificate table (a file offset)
  std::uint32_t size = 0;
};

// Reads the headers of the size bytes at data. Fails with *error naming what is wrong when the
// file is no PE image or a header, the section table or a section's data lies outside it.
bool ParsePeImage(const std::uint8_t* data, std::size_t size, PeImage* pe, std::string* error);

// The data directory entry of the given index; zero when the image has fewer entries.
DataDirectory ReadDataDirectory(const std::uint8_t* data, const PeImage& pe, int index);

// The file bytes from rva to the end of the raw data of the section holding it, in *available;
// nullptr when rva lies in no section's raw data.
const std::uint8_t* BytesAtRva(const std::uint8_t* data, const PeImage& pe, std::uint32_t rva,
                               std::size_t* available);

// The address a section added after the existing ones gets: the end of the last one, rounded up
// to the section alignment.
std::uint32_t NextSectionAddress(const PeImage& pe);

// Copies image with one more section, named name, that holds contents at NextSectionAddress()
// and that data directory `directory` points at. Its data goes right after that of the other
// sections; whatever followed them (the COFF symbol table) moves behind it, and the file offsets
// that point there are moved along. The checksum is cleared, since the payload appended later
// would have to be summed too (Windows checks it only for drivers), and a certificate table (a
// signature, which no longer matches) is dropped with a warning; one at the end of the file is
// cut off.
bool AddSection(const Bytes& image, const PeImage& pe, const char* name, const Bytes& contents,
                int directory, Bytes* out, std::vector<std::string>* warnings, std::string* error);

}  // namespace launcher_pack
