#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantMap>

// A reusable control that puts one icon with a tooltip into the system tray and tells
// its owner when a mouse button is pressed on it. It holds no application logic.
//
// After each accepted press the control ignores the tray for a quiet period that ends
// 15 ms after the owner's handler has returned, so presses that arrive while the owner
// is busy (a message box, say) are dropped instead of piling up.
class Tray final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "QuilloraClient.Tray")
public:
    static constexpr int QuietMilliseconds = 15;
    static constexpr int ImageSize = 32;
    static constexpr int LeftButton = 1;
    static constexpr int RightButton = 2;

    // EventMode: 0 reports every press as MouseClick(button); 1 reports them as the
    // separate LeftClick and RightClick events.
    static constexpr qint32 CombinedEvents = 0;
    static constexpr qint32 SeparateEvents = 1;

    // Names and defaults of the persisted properties.
    static inline const QString TrayImageProperty = QStringLiteral("TrayImage");
    static inline const QString TrayToolTipProperty = QStringLiteral("TrayToolTip");
    static inline const QString EventModeProperty = QStringLiteral("EventMode");
    static inline const QString DefaultToolTip = QStringLiteral("Quillora Client");

    explicit Tray(QObject* parent = nullptr);

    // True adds the icon to the tray, or pushes the current image and tooltip to it
    // when it is already there; False removes it (and does nothing when it is not there).
    void Show(bool UpDateData);
    // Whether the icon has been added and not removed since.
    bool IsVisible() const { return m_IsVisible; }
    // Whether a tray that shows this icon is there now. An icon that went to the desktop's
    // D-Bus tray is shown by that alone: an X tray running beside it does not show it.
    bool IsHosted() const;

    // The picture shown in the tray. An icon is kept as it is; any other picture is
    // turned into a 32 x 32 icon; a null one means none. Takes effect at the next Show.
    QIcon TrayImage() const { return m_TrayImage; }
    void setTrayImage(const QIcon& New_TrayImage);
    void setTrayImage(const QPixmap& New_TrayImage);

    // The tooltip text; shown between two spaces, within the tray's 64-character field.
    QString TrayToolTip() const { return m_TrayToolTip; }
    void setTrayToolTip(const QString& New_TrayToolTip);

    // Clamped to 0..1.
    qint32 EventMode() const { return m_EventMode; }
    void setEventMode(qint32 New_EventMode);

    // The persisted properties: read back with their defaults for missing entries;
    // written without the entries that hold their default.
    void ReadProperties(const QVariantMap& propBag);
    QVariantMap WriteProperties() const;

    // True during the quiet period after an accepted press.
    bool clickBusy() const { return m_ClickBusy; }

    // The platform's tray icon behind the control.
    QSystemTrayIcon* trayIcon() const { return m_tray; }

signals:
    void LeftClick();
    void RightClick();
    void MouseClick(int Button);

private:
    void tray_Activated(QSystemTrayIcon::ActivationReason reason);
    void raiseClick(int button);
    void Timer1_Timer();

    bool m_ClickBusy = false;
    bool m_IsVisible = false;
    qint32 m_EventMode = CombinedEvents;
    QString m_TrayToolTip = DefaultToolTip;
    QIcon m_TrayImage;
    bool m_viaBus = false; // the icon goes to the D-Bus tray
    QSystemTrayIcon* m_tray = nullptr;
    QTimer* Timer1 = nullptr;
};
