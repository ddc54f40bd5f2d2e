#pragma once

#include <QString>

// The Droplr enumerations and their text forms, as they travel in queries, bodies and answers. Readers
// look at one letter (privacy: the second) so that "FILE", "File" and "file" all read alike.
namespace qm::droplr {

enum class DropType : unsigned { Unknown = 0, Link = 1, Note = 2, Audio = 3, Video = 4, Image = 5, File = 6 };
enum class NoteType : unsigned { Unknown = 0, Code = 1, Markdown = 2, Plain = 3, Textile = 4 };
enum class DropPrivacy : unsigned { Public = 0, Obscure = 1, Private = 2 };
enum class SelfDestructType : unsigned { None = 0, Time = 1, Views = 2 };
enum class AccountType : unsigned { Regular = 0, Pro = 1, Business = 2 };
enum class ListSortBy : unsigned { Unset = 0, Creation = 1, Title = 2, Size = 3, Activity = 4, Views = 5 };
enum class ListSortOrder : unsigned { Unset = 0, Descending = 1, Ascending = 2 };

QString toString(DropType type);
DropType dropTypeFromString(const QString& text);
QString toString(NoteType type);
NoteType noteTypeFromString(const QString& text);
QString toString(DropPrivacy privacy);
DropPrivacy dropPrivacyFromString(const QString& text);
QString toString(SelfDestructType type);
SelfDestructType selfDestructTypeFromString(const QString& text);
// "Business" is written but reads back as Regular: the reader takes "T" for it.
QString toString(AccountType type);
AccountType accountTypeFromString(const QString& text);
QString toString(ListSortBy sortBy);
QString toString(ListSortOrder order);

} // namespace qm::droplr
