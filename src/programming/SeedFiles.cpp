#include "programming/SeedFiles.h"

#include "device/AnsiText.h"
#include "programming/SeedHandling.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>

namespace {

// What an authentication server expects in a file that does not exist yet.
constexpr const char* kHotpTemplate =
    "<?xml version=\"1.0\"?> <data><header><manufacturerCode>HV</manufacturerCode>"
    "<productCode>PM</productCode><encode>HEX</encode><encrypt>NONE</encrypt></header>"
    "<tokens></tokens></data>";
constexpr const char* kTotpTemplate =
    "<?xml version=\"1.0\"?> <data><header><manufacturerCode>HV</manufacturerCode>"
    "<productCode>PW</productCode><encode>HEX</encode><timeWindow>30</timeWindow>"
    "<encrypt>NONE</encrypt></header><tokens></tokens></data>";

constexpr const char* kTokensPath = "data/tokens";

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Streams pugixml's output straight into the device, remembering the first
// failure; a large seed file is never held twice in memory.
class DeviceWriter final : public pugi::xml_writer
{
public:
    explicit DeviceWriter(QIODevice& out) : m_out(out) {}
    void write(const void* data, size_t size) override
    {
        if (!m_error.isEmpty())
            return;
        const auto length = static_cast<qint64>(size);
        if (m_out.write(static_cast<const char*>(data), length) != length)
            m_error = m_out.errorString().isEmpty() ? QStringLiteral("write failed")
                                                    : m_out.errorString();
    }
    const QString& error() const { return m_error; }

private:
    QIODevice& m_out;
    QString m_error;
};

// Adds the token element, children in the order the importer reads them.
pugi::xml_node append_token(pugi::xml_document& xml, const SeedFileToken& token)
{
    pugi::xml_node tokens = xml.first_element_by_path(kTokensPath);
    pugi::xml_node node = tokens.append_child("token");
    node.append_child("crypto").text().set(token.hash == OtpHash::Sha1 ? "HmacSHA1" : "HmacSHA256");
    if (!token.userName.isEmpty())
        node.append_child("name").text().set(toAnsi(token.userName).c_str());
    node.append_child("digits").text().set(token.digits);
    node.append_child("serial").text().set(token.serial.c_str());
    node.append_child("seed").text().set(to_hex_upper(token.seed).c_str());
    return node;
}

std::expected<void, QString> save(const pugi::xml_document& xml, QIODevice& out)
{
    DeviceWriter writer(out);
    xml.save(writer, "\t", pugi::format_indent, pugi::encoding_auto);
    if (!writer.error().isEmpty())
        return std::unexpected(writer.error());
    return {};
}

std::expected<void, QString> write_all(QIODevice& out, const QByteArray& bytes)
{
    if (out.write(bytes) != bytes.size())
        return std::unexpected(out.errorString());
    return {};
}

void append_utf16le(QByteArray& out, const QString& text)
{
    // Spelled out byte by byte so that the file is the same on any host.
    out.reserve(out.size() + text.size() * 2);
    for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
}

} // namespace

QString seed_xml_path(OtpAlgorithm algorithm, const QString& directory)
{
    return QDir(directory).filePath(algorithm == OtpAlgorithm::Hotp ? QStringLiteral("hseeds.xml")
                                                                    : QStringLiteral("tseeds.xml"));
}

QString seed_csv_path(const QString& xmlPath)
{
    QString path = xmlPath;
    if (path.endsWith(QLatin1String(".xml")))
        path.chop(4);
    return path + QLatin1String(".csv");
}

SeedDocument parse_seed_document(OtpAlgorithm algorithm, const QByteArray& bytes)
{
    SeedDocument document;
    if (bytes.isEmpty()) {
        document.xml.load_string(algorithm == OtpAlgorithm::Hotp ? kHotpTemplate : kTotpTemplate);
        document.fromTemplate = true;
        return document;
    }
    const pugi::xml_parse_result parsed =
        document.xml.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()),
                                 pugi::parse_default, pugi::encoding_auto);
    // XML forbids a NUL character reference, but pugixml takes it and cuts the
    // text there, so writing the file back would lose what followed it.
    static const QRegularExpression nulReference(QStringLiteral("&#(0+|[xX]0+);"));
    const qsizetype nul = QString::fromLatin1(bytes).indexOf(nulReference);
    if (!parsed)
        document.unusableReason = QStringLiteral("cannot be parsed (%1 at byte %2)")
                                      .arg(QString::fromUtf8(parsed.description()))
                                      .arg(parsed.offset);
    else if (nul >= 0)
        document.unusableReason =
            QStringLiteral("cannot be parsed (a NUL character reference at byte %1)").arg(nul);
    else if (!document.xml.first_element_by_path(kTokensPath))
        document.unusableReason = QStringLiteral("has no data/tokens element");
    return document;
}

SeedDocument load_seed_document(OtpAlgorithm algorithm, const QString& directory)
{
    const QString path = seed_xml_path(algorithm, directory);
    if (!QFileInfo::exists(path))
        return parse_seed_document(algorithm, {});

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SeedDocument document;
        document.unusableReason = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return document;
    }
    return parse_seed_document(algorithm, file.readAll());
}

std::expected<void, QString> write_seed_xml_to(SeedDocument& document, const SeedFileToken& token,
                                               QIODevice& out)
{
    if (!document.usable())
        return std::unexpected(document.unusableReason);
    pugi::xml_node node = append_token(document.xml, token);
    auto written = save(document.xml, out);
    if (!written)
        node.parent().remove_child(node);
    return written;
}

std::expected<void, QString> write_seed_xml(const QString& directory, const SeedFileToken& token)
{
    SeedDocument document = load_seed_document(token.algorithm, directory);
    if (!document.usable())
        return std::unexpected(document.unusableReason);

    QSaveFile file(seed_xml_path(token.algorithm, directory));
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(file.errorString());
    // QSaveFile gives a new file the umask's permissions; seeds are secrets,
    // so narrow them before the first byte goes out. A file that already held
    // tokens keeps the permissions its owner chose.
    if (document.fromTemplate && !file.setPermissions(kOwnerOnly)) {
        file.cancelWriting();
        return std::unexpected(file.errorString());
    }

    append_token(document.xml, token);
    auto written = save(document.xml, file);
    // Flushed here because commit() renames even when the flush inside it
    // fails, which would replace the tokens with a truncated file.
    if (written && !file.flush())
        written = std::unexpected(file.errorString());
    if (written && !file.commit())
        written = std::unexpected(file.errorString());
    if (!written)
        file.cancelWriting();
    return written;
}

QByteArray seed_csv_header(OtpAlgorithm algorithm)
{
    QByteArray bytes;
    append_utf16le(bytes, algorithm == OtpAlgorithm::Hotp
                              ? QStringLiteral("Serial Number, Secret Key\r\n")
                              : QStringLiteral("UPN, Serial Number, Secret Key, Time Interval, "
                                               "Manufacturer, Model\r\n"));
    return bytes;
}

QByteArray seed_csv_row(const SeedFileToken& token)
{
    // Fields are not quoted: the New Token dialog refuses serial numbers and
    // user names that would need it.
    const QString serial = fromAnsi(token.serial);
    // Joined piece by piece rather than with arg(), which would read a "%1"
    // typed into the user name as a place holder.
    const QChar comma(u',');
    QString row;
    if (token.algorithm == OtpAlgorithm::Totp)
        row = token.userName + comma + serial + comma +
              QString::fromLatin1(base32_encode(token.seed)) + comma +
              QString::number(token.interval) + QStringLiteral(",Halvorn Security,Vornik\r\n");
    else
        row =
            serial + comma + QString::fromLatin1(to_hex_lower(token.seed)) + QStringLiteral("\r\n");
    QByteArray bytes;
    append_utf16le(bytes, row);
    return bytes;
}

int write_seed_csv_to(QFileDevice& file, const SeedFileToken& token, bool writeHeader,
                      QString* error)
{
    const qint64 length = file.size();
    if (!file.seek(length)) {
        std::fputs("Terminal failure: Unable to set file pointer to end-of-file.\n", stdout);
        std::fflush(stdout);
        if (error)
            *error = QStringLiteral("the end of the file cannot be reached");
        return kCsvCannotSeek;
    }
    QByteArray bytes = writeHeader ? seed_csv_header(token.algorithm) : QByteArray();
    bytes += seed_csv_row(token);
    // A full disk may only show when the buffered row is flushed.
    auto written = write_all(file, bytes);
    if (written && !file.flush())
        written = std::unexpected(file.errorString());
    if (written)
        return kCsvWritten;

    if (error)
        *error = written.error().isEmpty() ? QStringLiteral("write failed") : written.error();
    // Half a UTF-16 row would shift every later row by a byte or glue it to
    // this one. Only cut when something was written: at a file size limit a
    // truncation to the old length could itself fail.
    if (file.size() != length && !file.resize(length) && error)
        *error +=
            QStringLiteral("; the partial row could not be removed (%1)").arg(file.errorString());
    return kCsvWriteFailed;
}

int write_seed_csv(const QString& path, const SeedFileToken& token, QString* error)
{
    const bool existed = QFileInfo::exists(path);
    QFile file(path);
    // Created owner-only from the start: the row carries the token's secret.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, kOwnerOnly)) {
        if (error)
            *error = file.errorString();
        return kCsvCannotOpen;
    }
    const int result = write_seed_csv_to(file, token, !existed, error);
    file.close();
    // A file this append created goes again, or the next append would find it
    // and leave out the header.
    if (result == kCsvWriteFailed && !existed)
        file.remove();
    return result;
}
