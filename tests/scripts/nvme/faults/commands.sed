# Trace rows: the start time, the execution time and the data pointer
# (CDW6-CDW9, bus addresses) differ from run to run.
s#^([0-9]{4}) [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6} (.. .... .{12} [01]) [ 0-9*]{10} ((\S{8} ){6})(\S{8} ){4}#\1 <time> \2 <exec-time> \3<data pointer> #
# Event rows: the start time and the time the event took.
s#^([0-9]{4}) [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6}( +Shutdown Ntf) +[0-9]+ #\1 <time>\2 <exec-time> #
