// The controls layer: a dialog that lies exactly over the background layer as
// its child. It paints no background of its own, so wherever it has no
// control (the key colour, black, in the window it stands for) the picture
// shows through, and presses there go on to the background, which moves the
// window. Its closing paths close the background first.
#pragma once

#include <QColor>
#include <QDialog>

namespace launcher {

class CForeDialogBase : public QDialog {
    Q_OBJECT
public:
    CForeDialogBase(int nIDTemplate, QWidget* pParent);
    ~CForeDialogBase() override;

    // Creates the layer over its parent: initialises it, covers the parent's
    // rectangle and shows it.
    void CreateOverParent();

    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    int TemplateId() const { return m_nIDTemplate; }

    // The colour key: never changes.
    const QColor m_crKey{0, 0, 0};

    // Escape, the close of the dialog manager and Enter reach the virtual
    // handlers, as the dialog's own commands would.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    // Turns the dialog into the keyed layer: a plain child without frame or
    // background of its own.
    void MakeKeyedLayer();
    // Sends the close to the background window, which ends the program.
    void CloseParent();

    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_nIDTemplate;
};

}  // namespace launcher
