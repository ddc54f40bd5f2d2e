#include "ui/template_editor.h"

#define signals Q_SIGNALS
#define slots Q_SLOTS
#include <Qsci/qscilexerhtml.h>
#undef signals
#undef slots

namespace qm::ui {

TemplateEditor::TemplateEditor(QWidget* parent)
    : QsciScintilla(parent) {
    setLexer(new QsciLexerHTML(this));
    setUtf8(true);
    setWhitespaceVisibility(QsciScintilla::WsVisible);
    setEolVisibility(true);
    setWrapMode(QsciScintilla::WrapWord);
    setWrapIndentMode(QsciScintilla::WrapIndentSame);
    setEdgeMode(QsciScintilla::EdgeNone);
    setMarginWidth(0, QStringLiteral("0000"));
    setMarginLineNumbers(0, true);
}

} // namespace qm::ui
