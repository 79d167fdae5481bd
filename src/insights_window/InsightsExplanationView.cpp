#include "platform/Appearance.h"
#include "insights_window/InsightsExplanationView.h"

#include "insights/InsightsAGP.h"
#include "insights_window/InsightsFormat.h"
#include "insights_window/InsightsReportView.h"
#include "insights_window/InsightsSurfaces.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace quillby {

namespace {

const QString kConsensusURL = QStringLiteral("https://doi.org/10.2337/dci19-0028");
const QString kGMIURL = QStringLiteral("https://doi.org/10.2337/dc18-1581");
const QString kAGPURL = QStringLiteral("https://doi.org/10.1089/dia.2013.0051");

// "**Bold** rest" -> HTML with the bold part, everything else escaped.
QString markdownBold(const QString &text)
{
    QString html;
    const QStringList parts = text.split(QStringLiteral("**"));
    for (int i = 0; i < parts.size(); ++i) {
        const QString escaped = parts[i].toHtmlEscaped();
        html += i % 2 == 1 ? QStringLiteral("<b>") + escaped + QStringLiteral("</b>") : escaped;
    }
    return html;
}

QString withoutMarks(QString text)
{
    return text.remove(QStringLiteral("**"));
}

struct RawSection {
    QString title;
    QStringList paragraphs;   // "**" marks bold; a paragraph starting with "#" is a block title
};

QList<RawSection> rawSections(GlucoseUnits unit)
{
    const QString unitText = InsightsFormat::unitText(unit);
    const QString days = QString::number(kInsightsAGPMinimumDays);
    QList<RawSection> sections;
    sections.append({QStringLiteral("Headline numbers"),
                     {QStringLiteral("**Average** is the mean glucose in the selected period, weighted by how much time "
                                     "each reading represents."),
                      QStringLiteral("**Standard deviation** describes how spread out glucose readings are around the "
                                     "average during the selected period, using the same time weighting as the "
                                     "average. It is shown in %1. Larger values mean more variation.")
                          .arg(unitText),
                      QStringLiteral("**Estimated GMI** (glucose management indicator) estimates a lab HbA1c from your "
                                     "average glucose. It is not a lab result and can differ from your actual HbA1c."),
                      QStringLiteral("#How GMI is calculated"),
                      QStringLiteral("GMI (%) = %3 + %1 × average glucose in %2. It appears once you have at least 14 "
                                     "days of saved history and readings cover at least 70% of the selected period.")
                          .arg(InsightsExplanationView::gmiCoefficientText(unit), unitText,
                               InsightsFormat::decimal(3.31, 2))}});
    sections.append(
        {QStringLiteral("Ambulatory glucose profile"),
         {QStringLiteral("The profile combines every day in the selected period into a single 24-hour day. The line "
                         "shows the median (middle value) for each time of day, the darker band covers the middle 50%, "
                         "and the lighter band covers the middle 90%, after weighting readings by the time they "
                         "represent. Hover over the chart, or click to keep a time selected, to see its values."),
          QStringLiteral("The green shading marks the %1 target range. Times of day with readings from fewer than %2 "
                         "different days are left blank.")
              .arg(InsightsExplanationView::targetRangeText(unit), days),
          QStringLiteral("#How the profile is built"),
          QStringLiteral("Readings are grouped into 15-minute intervals using your computer’s current time zone, and "
                         "each interval needs readings from at least %1 different dates. The bands show the 25th–75th "
                         "and 5th–95th percentiles. Equally weighted Dexcom readings use type-7 interpolation; Libre "
                         "readings use the weighted distribution to account for their different sampling intervals. "
                         "Curves are smoothed between intervals for display only: the values shown on hover are "
                         "unchanged, and gaps are never filled. Repeated clock times during daylight saving changes "
                         "share an interval.")
              .arg(days)}});
    QStringList ranges{QStringLiteral("Each range shows the share of covered time in the selected period: %1 %2. "
                                      "Readings are weighted by the time they represent, so more frequent readings do "
                                      "not count disproportionately. Missing time is excluded.")
                           .arg(InsightsExplanationView::rangeDefinitionsText(unit), unitText)};
    if (unit == GlucoseUnits::mmolL) {
        ranges << QStringLiteral("Readings are sorted using their exact values, so a reading shown as %1 can count as "
                                 "high.")
                      .arg(InsightsFormat::decimal(10.0, 1));
    }
    ranges << QStringLiteral("The ranges follow the international consensus on time in range. They are separate from "
                             "your alert thresholds and are not personalized or pregnancy-specific targets.");
    sections.append({QStringLiteral("Glucose ranges"), ranges});
    sections.append(
        {QStringLiteral("Notices below the report"),
         {QStringLiteral("**Early insights** appears during your first 14 days of saved history. Patterns may change "
                         "as more history is saved."),
          QStringLiteral("**Limited data** appears when readings cover less than 70% of the selected period. During "
                         "your first 14 days, only time since saving began is counted. Available numbers are still "
                         "shown."),
          QStringLiteral("**Overnight readings are often missing** appears when readings cover less than 70% of "
                         "midnight to 6 a.m. on at least three nights, and on at least half of the nights since saving "
                         "began in the selected period.")}});
    sections.append(
        {QStringLiteral("History collection"),
         {QStringLiteral("Each reading covers its sampling interval, ending at the next reading or the end of the "
                         "selected period. Libre current readings cover up to one minute; Dexcom and Libre graph "
                         "readings cover up to five minutes. Longer gaps count as missing, including time when Quillby "
                         "wasn’t running. Duplicate readings are counted once."),
          QStringLiteral("Once your report is available, it stays available through gaps, pauses, and app restarts. "
                         "Each account and selected person keeps its own progress when you sign out or switch. "
                         "Returning restores that progress and any history still within retention. Deleting all saved "
                         "history resets collection for every account. A new account or person with no prior history "
                         "starts its own collection.")}});
    sections.append(
        {QStringLiteral("Using Insights"),
         {QStringLiteral("Insights are supplementary summaries and may be incomplete or delayed. A commonly recommended "
                         "minimum is 14 days with at least 70% of readings available, and even then, the numbers may "
                         "not reflect your usual glucose. Do not make treatment changes based solely on Quillby; it "
                         "does not replace your sensor app, glucose meter, or clinician’s advice."),
          QStringLiteral("Insights are calculated on this computer. Saved history is encrypted, never uploaded, and is "
                         "not a complete medical record or guaranteed backup.")}});
    return sections;
}

QLabel *paragraph(const QString &html, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    label->setText(html);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    label->setOpenExternalLinks(true);
    return label;
}

} // namespace

QString InsightsExplanationView::targetRangeText(GlucoseUnits unit)
{
    return InsightsReportView::bandRangeText(InsightsBand::inRange, unit) + QLatin1Char(' ') +
           InsightsFormat::unitText(unit);
}

QString InsightsExplanationView::rangeDefinitionsText(GlucoseUnits unit)
{
    QStringList items;
    for (const InsightsBand band : allInsightsBands()) {
        items << InsightsReportView::bandName(band).toLower() + QLatin1Char(' ') +
                     InsightsReportView::bandRangeText(band, unit);
    }
    return QLocale().createSeparatedList(items);
}

QString InsightsExplanationView::gmiCoefficientText(GlucoseUnits unit)
{
    return InsightsFormat::decimal(unit == GlucoseUnits::mgdL ? 0.02392 : 0.43056, 5);
}

QList<InsightsExplanationView::Section> InsightsExplanationView::sections(GlucoseUnits unit)
{
    QList<Section> result;
    for (const auto &raw : rawSections(unit)) {
        Section section{raw.title, {}};
        for (const auto &text : raw.paragraphs) {
            section.paragraphs << withoutMarks(text.startsWith(QLatin1Char('#')) ? text.mid(1) : text);
        }
        result << section;
    }
    return result;
}

InsightsExplanationView::InsightsExplanationView(GlucoseUnits unit, const QUrl &privacyPolicyURL, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("insightsExplanation"));
    setWindowTitle(QStringLiteral("About Insights"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(580, 620);
    useInsightsAppearance(this);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout();
    header->setContentsMargins(20, 20, 20, 20);
    auto *title = plainLabel(QStringLiteral("About Insights"), this);
    scaleFont(title, 1.1, QFont::DemiBold);
    header->addWidget(title);
    header->addStretch(1);
    auto *done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("insightsExplanationDoneButton"));
    done->setDefault(true);
    done->setAutoDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    column->addLayout(header);
    column->addWidget(makeSeparator(Qt::Horizontal, this));

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *body = new QWidget(scroll);
    body->setObjectName(QStringLiteral("insightsExplanationText"));
    auto *bodyColumn = new QVBoxLayout(body);
    bodyColumn->setContentsMargins(20, 16, 20, 20);
    bodyColumn->setSpacing(10);
    for (const auto &section : rawSections(unit)) {
        auto *heading = plainLabel(section.title, body);
        scaleFont(heading, 1.0, QFont::DemiBold);
        heading->setContentsMargins(0, 8, 0, 0);
        useSecondaryText(heading);
        bodyColumn->addWidget(heading);
        auto *group = new InsightsCardFrame(body);
        group->setObjectName(QStringLiteral("insightsExplanationSection"));
        auto *groupColumn = new QVBoxLayout(group);
        groupColumn->setContentsMargins(12, 10, 12, 10);
        groupColumn->setSpacing(10);
        for (const auto &text : section.paragraphs) {
            if (text.startsWith(QLatin1Char('#'))) {
                auto *blockTitle = plainLabel(text.mid(1), group);
                scaleFont(blockTitle, 0.95, QFont::DemiBold);
                groupColumn->addWidget(blockTitle);
            } else {
                groupColumn->addWidget(paragraph(markdownBold(text), group));
            }
        }
        if (section.title == QStringLiteral("Using Insights")) {
            const QList<QPair<QString, QString>> links = {
                {QStringLiteral("International consensus on time in range"), kConsensusURL},
                {QStringLiteral("About the GMI calculation"), kGMIURL},
                {QStringLiteral("About ambulatory glucose profiles"), kAGPURL},
                {QStringLiteral("Privacy policy"), privacyPolicyURL.toString(QUrl::FullyEncoded)}};
            for (const auto &[label, url] : links) {
                groupColumn->addWidget(paragraph(linkHtml(url, label, InsightsColors::palette()),
                                                 group));
            }
        }
        bodyColumn->addWidget(group);
    }
    bodyColumn->addStretch(1);
    scroll->setWidget(body);
    column->addWidget(scroll, 1);
}

} // namespace quillby
