#pragma once

// QScintilla's headers use the plain keywords, which this project switches off.
#define signals Q_SIGNALS
#define slots Q_SLOTS
#include <Qsci/qsciscintilla.h>
#undef signals
#undef slots

namespace qm::ui {

// The download box template's source editor: HTML highlighting, spaces and line ends shown, long lines
// wrapped softly at word boundaries, no print margin.
class TemplateEditor : public QsciScintilla {
    Q_OBJECT
public:
    explicit TemplateEditor(QWidget* parent = nullptr);
};

} // namespace qm::ui
