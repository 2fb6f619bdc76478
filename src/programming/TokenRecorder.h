#pragma once

// Where a programmed token is recorded so that an authentication server can
// import it. Programming calls every recorder it is given once per token that
// the key has accepted; the seed files are one recorder, an encrypted
// container can be another beside them.

#include "programming/SeedFiles.h"

#include <QString>
#include <QStringList>

#include <expected>

class TokenRecorder
{
public:
    virtual ~TokenRecorder() = default;

    // Records the token. On failure: one line per destination that could not
    // be written, in the form the Messages panel shows ("...\r\n").
    virtual std::expected<void, QString> record(const SeedFileToken& token) = 0;

    // The files the token goes to, for the user to be told.
    virtual QStringList destinations(const SeedFileToken& token) const = 0;
};

// The algorithm's XML and CSV seed files in one directory.
class SeedFileRecorder final : public TokenRecorder
{
public:
    explicit SeedFileRecorder(QString directory) : m_directory(std::move(directory)) {}

    std::expected<void, QString> record(const SeedFileToken& token) override;
    QStringList destinations(const SeedFileToken& token) const override;

private:
    QString m_directory;
};
