# Times differ from run to run: the trace rows' start time, command id,
# execution time and data pointer (CDW6-CDW9, bus addresses), the
# percentiles, and the times of the QoS table.
s#^([0-9]{4}) [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6} (..) .{4} (.{12} [01]) [ 0-9*]{10} \S{4}(\S{4} (\S{8} ){5})(\S{8} ){4}#\1 <time> \2 <cid> \3 <exec-time> <cid>\4<data pointer> #
s#^err 0: median [0-9]+ us, 99% [0-9]+ us, slowest [0-9]+ us$#err 0: median <us> us, 99% <us> us, slowest <us> us#
s#^( +[0-9]+\.[0-9]+,) +[0-9]+$#\1  <us>#
