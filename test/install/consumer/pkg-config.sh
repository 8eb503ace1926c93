# The consumers built with pkg-config's flags, in a folder that holds their
# sources.
c++ route_report.cc $(pkg-config --cflags --libs ostrel_agg_svc_l3_msg) -o route_report
c++ lookup_by_name.cc $(pkg-config --cflags --libs ostrel_agg_svc_l3_msg) -o lookup_by_name
c++ stream_routes.cc $(pkg-config --cflags --libs ostrel_report_stream) -o stream_routes
c++ diff_routes.cc $(pkg-config --cflags --libs ostrel_report_diff ostrel_agg_svc_l3_msg) -o diff_routes
