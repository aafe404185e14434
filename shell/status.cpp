#include "shell/status.h"

#include "store/db.h"
#include "support/codepage.h"
#include "support/config.h"

namespace tollan {

std::string Status_CountText(std::int32_t count)
{
    std::string text = std::to_string(count) + Text_Utf8ToCp1252(" saatmata päring");
    if (count != 1) text += "ut";
    return text;
}

std::string Status_SinceText(const DateTime& moment)
{
    return Fmt_DateTime(moment, "short date") + " " + Fmt_DateTime(moment, "hh:nn");
}

std::string Status_LastSentText(std::int32_t date)
{
    // "LastSent_TransFile" starts at 1 January of the year 100: no file was ever sent.
    if (date < 19000101)
        return Text_Utf8ToCp1252("pole veel saadetud");
    return Fmt_DateTime(Date_FromNumber(date), "short date");
}

UnsentStatus Status_Unsent()
{
    UnsentStatus status;
    TransSet set;
    // In iSentPAN the unsent rows follow the sent ones, each part in card-number order.
    if (set.open("iSentPAN") && set.seek("=", {DbKey(false)})) {
        const TransRecord& row = set.record();
        DateTime at = Date_FromNumber(row.Date);
        const DateTime time = Time_FromNumber(row.Time == 0 ? 0 : row.Time);
        at.hour = row.Time == 0 ? 0 : time.hour;
        at.minute = row.Time == 0 ? 0 : time.minute;
        at.second = 0;
        status.since = "alates " + Status_SinceText(at);
        // From the first unsent row on, every row of this index is unsent: the count of them all.
        status.count = Db_UnsentCount();
        return status;
    }
    const std::int32_t lastSent = std::int32_t(Num_Value(Cfg_Get("LastSent_TransFile", "1000101")));
    status.since = (lastSent < 19000101 ? "" : "alates ") + Status_LastSentText(lastSent);
    return status;
}

} // namespace tollan
