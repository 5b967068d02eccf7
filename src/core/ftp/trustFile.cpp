#include "core/ftp/trustFile.h"

#include "core/base/fileName.h"

#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {
constexpr std::uintmax_t kLargestFile = std::uintmax_t{1024} * 1024;
} // namespace

std::string trustFilePath(const std::string& folder, const char* file)
{
    if (folder.empty())
        return {};
    // UTF-8 all the way: a narrow std::filesystem::path is in the ANSI code page on
    // Windows, and a folder's name outside it would come back garbled.
    const std::u8string name = (filename::path(folder) / file).u8string();
    return std::string(name.begin(), name.end());
}

std::optional<std::string> readTrustFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(filename::path(path), ec))
        return ec ? std::nullopt : std::optional<std::string>(std::string());
    const std::uintmax_t size = std::filesystem::file_size(filename::path(path), ec);
    if (ec || size > kLargestFile)
        return std::nullopt;
    std::FILE* f = filename::open(path, "rb");
    if (!f)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return std::nullopt;
    text.resize(got);
    return text;
}

bool writeTrustFile(const std::string& path, const std::string& text)
{
    // QSaveFile writes beside the file and renames over it (MoveFileEx on Windows, where
    // it closes the file first).
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
