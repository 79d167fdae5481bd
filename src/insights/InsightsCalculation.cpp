#include "insights/InsightsCalculation.h"

#include "insights/InsightsCalculationImpl.h"

namespace quillby {

bool InsightsCalculationInput::hasSameHistoryIdentity(const InsightsCalculationInput &other) const
{
    return accountScope == other.accountScope && historyEpoch == other.historyEpoch;
}

InsightsCalculationResult InsightsCalculationResult::calculate(const InsightsCalculationInput &input)
{
    const std::vector<insights_detail::Sample> samples = insights_detail::cleanedSamples(input.readings);
    LocalCalendar::Cursor cursor(input.calendar);
    return InsightsCalculationResult{
        insights_detail::summaryOfSamples(samples, input.interval, input.collectionStartedAt, cursor),
        insights_detail::progressOfSamples(samples, input.interval.end, input.collectionStartedAt)};
}

} // namespace quillby
