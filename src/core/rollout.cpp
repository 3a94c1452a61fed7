#include "rollout.h"

#include "state/playersettings.h"

#include <QRandomGenerator>

#include <pugixml.hpp>

#include <sstream>

namespace {

QByteArray saved(const pugi::xml_document &document)
{
    std::ostringstream text;
    document.save(text, "\t", pugi::format_default | pugi::format_no_declaration);
    return QByteArray::fromStdString(text.str());
}

} // namespace

std::optional<Rollout> rolloutOf(const QByteArray &list)
{
    pugi::xml_document document;
    // Most lists have none, and a large one is not parsed twice for it.
    if (!list.contains("<rollout") || !document.load_buffer(list.constData(), std::size_t(list.size())))
        return std::nullopt;
    const pugi::xml_node element = document.child("rollout");
    if (!element)
        return std::nullopt;
    bool number = false;
    const int percent = QByteArray(element.attribute("percent").value()).toInt(&number);
    const QByteArray::FromBase64Result previous = QByteArray::fromBase64Encoding(
        QByteArray(element.child_value()).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!number || percent < 0 || percent > 100 || !previous)
        return Rollout{0, {}};
    return Rollout{percent, previous.decoded};
}

bool takesRelease(int bucket, int percent)
{
    return bucket < percent * (rolloutBuckets / 100);
}

int installationBucket()
{
    PlayerSettings settings = loadPlayerSettings();
    if (settings.rolloutBucket)
        return *settings.rolloutBucket;
    settings.rolloutBucket = int(QRandomGenerator::system()->bounded(rolloutBuckets));
    return savePlayerSettings(settings) ? *settings.rolloutBucket : rolloutBuckets - 1;
}

QByteArray withoutRollout(const QByteArray &list)
{
    pugi::xml_document document;
    if (!document.load_buffer(list.constData(), std::size_t(list.size())) || !document.child("rollout"))
        return list;
    document.remove_child("rollout");
    return saved(document);
}

QByteArray withRollout(const QByteArray &list, int percent, const QByteArray &previousList)
{
    pugi::xml_document document;
    document.load_buffer(list.constData(), std::size_t(list.size()));
    document.remove_child("rollout");
    pugi::xml_node element = document.append_child("rollout");
    element.append_attribute("percent") = percent;
    element.text() = withoutRollout(previousList).toBase64().constData();
    return saved(document);
}
