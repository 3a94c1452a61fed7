#pragma once

#include <QByteArray>

#include <optional>

// A release that only a share of the installations takes at first: its list
// carries the release before it, whole, in a "rollout" element,
//
//   <rollout percent="10">(the previous list, base64)</rollout>
//
// and each installation, by a bucket it drew once, takes either the new list or
// the one inside. The signature over the list vouches for both, and no server
// decides per request. Raising the share is a new signed list; halting is a list
// at 0%.
struct Rollout {
    int percent = 100;
    QByteArray previousList;
};

constexpr int rolloutBuckets = 10000;

// The list's rollout; nothing when it has none. An element that cannot be read
// takes no one to the new release and carries no list before it, so that the
// installation refuses both as unreadable.
std::optional<Rollout> rolloutOf(const QByteArray &list);

// Whether an installation in bucket (0 to rolloutBuckets - 1) takes a release
// rolled out to percent of them.
bool takesRelease(int bucket, int percent);

// This installation's bucket: drawn at random the first time a rollout is met,
// then kept in the player's settings. One that cannot be kept takes a release
// only when every installation does.
int installationBucket();

// The list with its rollout element (if any) replaced by one of percent, which
// carries previousList without a rollout of its own.
QByteArray withRollout(const QByteArray &list, int percent, const QByteArray &previousList);
QByteArray withoutRollout(const QByteArray &list);
