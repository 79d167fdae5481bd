#include "insights/InsightsCalculation.h"

#include "insights/InsightsCalculationImpl.h"

#include <algorithm>

namespace quillby {

bool InsightsCalculationInput::hasSameHistoryIdentity(const InsightsCalculationInput &other) const
{
    return accountScope == other.accountScope && historyEpoch == other.historyEpoch;
}

InsightsCalculationResult InsightsCalculationResult::calculate(const InsightsCalculationInput &input)
{
    // The report reads the period and the collection window that ends with it.
    const Date end = input.interval.end;
    const Date from = std::min(input.interval.start, end - kInsightsCollectionWindow);
    const std::vector<insights_detail::Sample> samples =
        input.interval.start <= end ? insights_detail::cleanedSamples(input.readings, input.fixedCadence, from, end)
                                    : insights_detail::cleanedSamples(input.readings, input.fixedCadence);
    LocalCalendar::Cursor cursor(input.calendar);
    return InsightsCalculationResult{
        insights_detail::summaryOfSamples(samples, input.interval, input.collectionStartedAt, cursor),
        insights_detail::progressOfSamples(samples, input.interval.end, input.collectionStartedAt)};
}

} // namespace quillby
